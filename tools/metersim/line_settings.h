// Speed and parity of the line the meters are set to.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>

namespace quorna::metersim {

enum class Parity { None, Even, Odd };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;

    // Start bit, 8 data bits, parity bit if any, one stop bit.
    [[nodiscard]] int bitsPerCharacter() const { return parity == Parity::None ? 10 : 11; }

    [[nodiscard]] std::chrono::microseconds characterTime() const
    {
        return std::chrono::microseconds(1'000'000LL * bitsPerCharacter() / baud);
    }

    // Time on the line of `count` characters, without rounding each character.
    [[nodiscard]] std::chrono::microseconds transmitTime(long long count) const
    {
        return std::chrono::microseconds(1'000'000LL * bitsPerCharacter() * count / baud);
    }

    // Silence that ends a frame: 3.5 character times, but never under 4 ms, since a
    // pseudo-terminal and a loaded machine cannot keep finer gaps apart.
    [[nodiscard]] std::chrono::microseconds frameGap() const
    {
        const auto gap = std::chrono::microseconds(1'000'000LL * bitsPerCharacter() * 7 / (2LL * baud));
        return std::max(gap, std::chrono::microseconds(4000));
    }
};

[[nodiscard]] inline bool isSupportedBaud(int baud)
{
    return baud == 2400 || baud == 4800 || baud == 9600 || baud == 19200;
}

[[nodiscard]] inline std::optional<Parity> parseParity(std::string_view text)
{
    if (text == "none")
        return Parity::None;
    if (text == "even")
        return Parity::Even;
    if (text == "odd")
        return Parity::Odd;
    return std::nullopt;
}

}  // namespace quorna::metersim
