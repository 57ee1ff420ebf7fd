#include "command_language.h"

#include "register_map.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace quorna::metersim {

namespace {

constexpr int kNameRegisters = 2;
constexpr int kMaxRegister = 65535;

struct CommandError {
    std::string reason;
};

std::vector<std::string> splitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::istringstream stream{std::string(line)};
    std::string word;
    while (stream >> word)
        words.push_back(word);
    return words;
}

// The text after the first `skip` words, leading blanks removed, trailing blanks kept.
std::string restOfLine(std::string_view line, int skip)
{
    std::size_t pos = 0;
    for (int i = 0; i < skip; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string_view::npos)
            return {};
    }
    pos = line.find_first_not_of(" \t", pos);
    return pos == std::string_view::npos ? std::string() : std::string(line.substr(pos));
}

long parseNumber(const std::string& text, long low, long high, const char* what)
{
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw CommandError{std::string(what) + " must be a number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ": " + text};
    return value;
}

void needWords(const std::vector<std::string>& words, std::size_t least, std::size_t most, const char* usage)
{
    if (words.size() < least || words.size() > most)
        throw CommandError{std::string("usage: ") + usage};
}

int parseAddress(const std::string& text)
{
    return static_cast<int>(parseNumber(text, kFirstMeterAddress, kLastMeterAddress, "address"));
}

Meter& meterAt(BusState& bus, const std::string& addressText)
{
    const int address = parseAddress(addressText);
    const auto it = bus.meters.find(address);
    if (it == bus.meters.end())
        throw CommandError{"no meter at address " + std::to_string(address)};
    return it->second;
}

bool parseOnOff(const std::string& text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    throw CommandError{"expected on or off: " + text};
}

void requireStored(bool stored, int reg)
{
    if (!stored)
        throw CommandError{"register range from " + std::to_string(reg) + " not held by this meter"};
}

std::string nameCommand(BusState& bus, std::string_view line, const std::vector<std::string>& words, bool second)
{
    needWords(words, 2, 6, second ? "name2 ADDR TEXT" : "name ADDR TEXT");
    Meter& meter = meterAt(bus, words[1]);
    const std::string text = restOfLine(line, 2);
    if (text.size() > kNameRegisters * 2)
        throw CommandError{"a name has at most 4 characters"};
    int reg = 0;
    if (meter.model() == kBranchModel && !second)
        reg = regs::kBranchName;
    else if (isCircuitModel(meter.model()))
        reg = second ? regs::kCircuitSecondName : regs::kCircuitFirstName;
    else
        throw CommandError{second ? "only Circuit meters have a second name" : "this model has no name"};
    const auto packed = packText(text, kNameRegisters);
    requireStored(meter.store(reg, packed), reg);
    return "ok";
}

std::string execute(BusState& bus, std::string_view line, const std::vector<std::string>& words, CommandSource source)
{
    const std::string& verb = words[0];
    if (verb == "ping") {
        needWords(words, 1, 1, "ping");
        return "ok";
    }
    if (verb == "meter") {
        needWords(words, 3, 3, "meter ADDR MODEL");
        const int address = parseAddress(words[1]);
        const int model = static_cast<int>(parseNumber(words[2], 0, 99999, "model"));
        if (!isKnownModel(model))
            throw CommandError{"unknown model " + words[2] + " (230, 235, 236, 600, 8035, 8036)"};
        bus.addMeter(address, model);
        return "ok";
    }
    if (verb == "remove") {
        needWords(words, 2, 2, "remove ADDR");
        meterAt(bus, words[1]);
        bus.meters.erase(parseAddress(words[1]));
        return "ok";
    }
    if (verb == "set") {
        needWords(words, 4, 3 + 512, "set ADDR REG V1 [V2 ...]");
        Meter& meter = meterAt(bus, words[1]);
        const int reg = static_cast<int>(parseNumber(words[2], 0, kMaxRegister, "register"));
        std::vector<uint16_t> values;
        for (std::size_t i = 3; i < words.size(); ++i)
            values.push_back(static_cast<uint16_t>(parseNumber(words[i], 0, 65535, "value")));
        requireStored(meter.store(reg, values), reg);
        return "ok";
    }
    if (verb == "setf") {
        needWords(words, 4, 4, "setf ADDR REG FLOAT");
        Meter& meter = meterAt(bus, words[1]);
        const int reg = static_cast<int>(parseNumber(words[2], 0, kMaxRegister - 1, "register"));
        char* end = nullptr;
        const float value = std::strtof(words[3].c_str(), &end);
        if (*end != '\0')
            throw CommandError{"not a number: " + words[3]};
        requireStored(meter.storeFloat(reg, value), reg);
        return "ok";
    }
    if (verb == "name" || verb == "name2")
        return nameCommand(bus, line, words, verb == "name2");
    if (verb == "text") {
        if (words.size() < 2)
            throw CommandError{"usage: text ADDR DEVICE-TEXT..."};
        Meter& meter = meterAt(bus, words[1]);
        std::string text = restOfLine(line, 2);
        if (text.size() > kMaxDeviceText)
            throw CommandError{"a device text has at most 90 bytes"};
        meter.setDeviceText(std::move(text));
        return "ok";
    }
    if (verb == "slaveid") {
        needWords(words, 3, 3, "slaveid ADDR BYTE");
        Meter& meter = meterAt(bus, words[1]);
        meter.setSlaveId(static_cast<uint8_t>(parseNumber(words[2], 0, 255, "slave ID")));
        return "ok";
    }
    if (verb == "fault") {
        needWords(words, 3, 4, "fault ADDR KIND [ARG]");
        const int address = parseAddress(words[1]);
        std::string error;
        const auto fault = parseFault(std::vector<std::string>(words.begin() + 2, words.end()), error);
        if (!fault)
            throw CommandError{error};
        if (fault->kind == FaultKind::None)
            bus.faults.erase(address);
        else
            bus.faults[address] = *fault;
        return "ok";
    }
    if (verb == "drift") {
        needWords(words, 3, 3, "drift ADDR|all on|off");
        const bool on = parseOnOff(words[2]);
        if (words[1] == "all") {
            bus.driftForNewMeters = on;
            for (auto& [address, meter] : bus.meters)
                meter.setDrift(on);
        } else {
            meterAt(bus, words[1]).setDrift(on);
        }
        return "ok";
    }
    if (verb == "linecheck") {
        needWords(words, 2, 2, "linecheck on|off");
        bus.checkLineSettings = parseOnOff(words[1]);
        return "ok";
    }
    if (verb == "get") {
        needWords(words, 4, 4, "get ADDR REG COUNT");
        if (source != CommandSource::Control)
            throw CommandError{"get is a control socket command"};
        const Meter& meter = meterAt(bus, words[1]);
        const int reg = static_cast<int>(parseNumber(words[2], 0, kMaxRegister, "register"));
        const int count = static_cast<int>(parseNumber(words[3], 1, kMaxRegister + 1 - reg, "count"));
        const auto values = meter.read(reg, count);
        requireStored(values.has_value(), reg);
        std::string reply = "ok";
        for (uint16_t value : *values) {
            reply += ' ';
            reply += std::to_string(value);
        }
        return reply;
    }
    throw CommandError{"unknown command " + verb};
}

}  // namespace

std::optional<std::string> executeCommand(BusState& bus, std::string_view line, CommandSource source)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    const auto words = splitWords(line);
    if (words.empty() || words[0][0] == '#')
        return std::nullopt;
    try {
        return execute(bus, line, words, source);
    } catch (const CommandError& error) {
        return "err " + error.reason;
    }
}

}  // namespace quorna::metersim
