#include "transmitter.h"

#include <algorithm>
#include <charconv>

namespace quorna::metersim {

namespace {

constexpr auto kLongestChunk = std::chrono::microseconds(5000);
constexpr uint8_t kGarbageByte = 0xA5;
constexpr int kMaxTrailingBytes = 256;
constexpr int kMaxDelayMs = 60000;

std::optional<int> parseInt(const std::string& text)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error)
{
    if (words.empty()) {
        error = "missing fault kind";
        return std::nullopt;
    }
    const std::string& kind = words[0];
    const std::size_t arguments = words.size() - 1;
    auto noArgument = [&](FaultKind k) -> std::optional<Fault> {
        if (arguments != 0) {
            error = "fault " + kind + " takes no argument";
            return std::nullopt;
        }
        return Fault{k, 0};
    };
    if (kind == "none")
        return noArgument(FaultKind::None);
    if (kind == "silent")
        return noArgument(FaultKind::Silent);
    if (kind == "badcrc")
        return noArgument(FaultKind::BadCrc);
    if (kind == "wrongaddr")
        return noArgument(FaultKind::WrongAddress);
    if (kind == "exception") {
        // With a register, only the requests that start at it are refused.
        if (arguments == 0)
            return Fault{FaultKind::Exception, kAnyRegister};
        const auto parsed = arguments == 1 ? parseInt(words[1]) : std::nullopt;
        if (!parsed || *parsed < 0 || *parsed > 65535) {
            error = "usage: exception [REGISTER]";
            return std::nullopt;
        }
        return Fault{FaultKind::Exception, *parsed};
    }
    if (kind == "split")
        return noArgument(FaultKind::Split);
    if (kind == "trailing" || kind == "delay") {
        const bool trailing = kind == "trailing";
        if (arguments > 1 || (!trailing && arguments == 0)) {
            error = trailing ? "usage: trailing [N]" : "usage: delay MS";
            return std::nullopt;
        }
        int value = kDefaultTrailingBytes;
        if (arguments == 1) {
            const auto parsed = parseInt(words[1]);
            const int limit = trailing ? kMaxTrailingBytes : kMaxDelayMs;
            if (!parsed || *parsed < 0 || *parsed > limit) {
                error = "fault " + kind + " needs a number from 0 to " + std::to_string(limit);
                return std::nullopt;
            }
            value = *parsed;
        }
        return Fault{trailing ? FaultKind::Trailing : FaultKind::Delay, value};
    }
    error = "unknown fault " + kind;
    return std::nullopt;
}

bool refusesRequest(const Fault& fault, std::span<const uint8_t> request)
{
    if (fault.kind != FaultKind::Exception)
        return false;
    if (fault.argument == kAnyRegister)
        return true;
    return request.size() >= 4 && ((request[2] << 8) | request[3]) == fault.argument;
}

AnswerPlan shapeAnswer(std::span<const uint8_t> request, Bytes answer, const Fault& fault)
{
    AnswerPlan plan;
    switch (fault.kind) {
    case FaultKind::None:
        break;
    case FaultKind::Silent:
        return plan;
    case FaultKind::BadCrc:
        answer[answer.size() - 1] = static_cast<uint8_t>(answer[answer.size() - 1] ^ 0x5A);
        break;
    case FaultKind::WrongAddress:
        answer.resize(answer.size() - 2);
        answer[0] = static_cast<uint8_t>(answer[0] + 1);
        appendCrc(answer);
        break;
    case FaultKind::Exception:
        if (refusesRequest(fault, request))
            answer = buildException(request[0], request[1], kSlaveDeviceFailure);
        break;
    case FaultKind::Split: {
        const auto half = static_cast<std::ptrdiff_t>(answer.size() / 2);
        plan.bursts.push_back(Burst{Bytes(answer.begin(), answer.begin() + half), {}});
        plan.bursts.push_back(Burst{Bytes(answer.begin() + half, answer.end()), kSplitPause});
        return plan;
    }
    case FaultKind::Trailing:
        answer.insert(answer.end(), static_cast<std::size_t>(fault.argument), kGarbageByte);
        break;
    case FaultKind::Delay:
        plan.extraDelay = std::chrono::milliseconds(fault.argument);
        break;
    }
    plan.bursts.push_back(Burst{std::move(answer), {}});
    return plan;
}

Transmitter::Transmitter(LineSettings line, std::chrono::microseconds turnaround, bool selfPaced)
    : m_line(line), m_turnaround(turnaround), m_selfPaced(selfPaced)
{
}

void Transmitter::schedule(const AnswerPlan& plan, Clock::time_point requestEnd)
{
    Clock::time_point start = std::max(requestEnd + m_turnaround + plan.extraDelay, m_lineFreeAt);
    const auto characterTime = m_line.characterTime();
    const auto chunkSize = static_cast<std::size_t>(std::max<long long>(1, kLongestChunk / characterTime));
    bool first = true;
    for (const Burst& burst : plan.bursts) {
        if (!first)
            start += burst.pauseBefore;
        first = false;
        const auto& bytes = burst.bytes;
        if (m_selfPaced) {
            m_chunks.push_back(Chunk{start, bytes});
        } else {
            for (std::size_t from = 0; from < bytes.size(); from += chunkSize) {
                const std::size_t to = std::min(bytes.size(), from + chunkSize);
                const auto due = start + m_line.transmitTime(static_cast<long long>(to));
                m_chunks.push_back(Chunk{due, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                                    bytes.begin() + static_cast<std::ptrdiff_t>(to))});
            }
        }
        start += m_line.transmitTime(static_cast<long long>(bytes.size()));
    }
    m_lineFreeAt = std::max(m_lineFreeAt, start);
}

std::optional<Clock::time_point> Transmitter::nextDue() const
{
    if (m_chunks.empty())
        return std::nullopt;
    return m_chunks.front().due;
}

void Transmitter::writeDue(Clock::time_point now, const std::function<void(std::span<const uint8_t>)>& write)
{
    while (!m_chunks.empty() && m_chunks.front().due <= now) {
        write(m_chunks.front().bytes);
        m_chunks.pop_front();
    }
}

}  // namespace quorna::metersim
