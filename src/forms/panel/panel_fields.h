#pragma once
// What the two panel windows share: taking a number or a name from an edit with the standard
// validation messages (app/field_validation.h), and the texts of the firmware and serial-number lines.

#include <cstdint>
#include <optional>
#include <string>

#include "bus/bus.h"
#include "core/operator.h"

namespace quorna::panel {

// The integer an edit holds: optional blanks around an optionally signed run of decimal digits
// that fits 32 bits. Nothing for anything else (empty text included).
std::optional<int> parseInteger(const std::string& text);

// Takes one integer edit. Passes (giving the value) when the text is an integer within
// [low, high], or when it is exactly `unchanged` (the value the meter itself gave, which is
// shown but never sent back). Otherwise shows the matching message and gives nothing.
std::optional<int> takeInteger(Operator& op, const std::string& text, int low, int high,
                               std::optional<int> unchanged = std::nullopt);

// Takes one name edit: passes when it holds at most kMeterNameLength characters, else shows the
// length message and gives false.
bool takeName(Operator& op, const std::string& text);

// Writes a four-character name into its two registers, the second only when the first took it.
// A failed write is told (caption "Communication Failure"): the name is then unchanged or, when
// the second register refused it, written only in part. Gives true when both registers took it.
bool writeName(Bus& bus, int address, int firstRegister, const std::string& name);

std::string firmwareText(int major, int minor);  // "Firmware V2.7"
std::string serialText(std::uint32_t serial);    // "Serial Number - 00100000"

// A register's low 16 bits as a signed value (65535 gives -1).
int signed16(std::int32_t registerValue);

}  // namespace quorna::panel
