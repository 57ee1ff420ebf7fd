#include "logger/stderr_operator.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quorna {
namespace {

// The text on one line: line breaks inside a message become blanks.
std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\r') continue;
        out += c == '\n' ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string messageKey(const std::string& text, const std::string& caption) {
    return caption.empty() ? oneLine(text) : caption + ": " + oneLine(text);
}

}  // namespace

const char* levelName(MessageLevel level) {
    switch (level) {
        case MessageLevel::Error: return "error";
        case MessageLevel::Warning: return "warning";
        case MessageLevel::Info: break;
    }
    return "info";
}

std::string isoLocalTime(std::time_t time) {
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return "0000-00-00T00:00:00";
    std::array<char, 40> text{};
    std::size_t n = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S%z", &local);
    // %z gives +hhmm; ISO 8601's extended form, which the date and time use, writes +hh:mm.
    if (n >= 5) {
        // Appended piece by piece: inserting into the middle makes GCC 12 warn (-Wrestrict) at -O2.
        std::string result;
        result.reserve(n + 1);
        result.append(text.data(), n - 2);
        result.push_back(':');
        result.append(text.data() + n - 2, 2);
        return result;
    }
    return std::string(text.data(), n);
}

int syslogPriority(MessageLevel level) {
    switch (level) {
        case MessageLevel::Error: return 3;
        case MessageLevel::Warning: return 4;
        case MessageLevel::Info: break;
    }
    return 6;
}

LineStyle lineStyleOfStandardError() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return LineStyle::Timed;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return LineStyle::Timed;
    struct stat st{};
    if (::fstat(STDERR_FILENO, &st) != 0) return LineStyle::Timed;
    return static_cast<unsigned long long>(st.st_dev) == device && static_cast<unsigned long long>(st.st_ino) == inode
               ? LineStyle::Journal
               : LineStyle::Timed;
}

StderrOperator::StderrOperator(std::ostream& out, std::function<std::time_t()> clock, LineStyle style)
    : m_out(out), m_clock(std::move(clock)), m_style(style) {}

void StderrOperator::line(MessageLevel level, const std::string& text) {
    if (level == MessageLevel::Error) ++m_errors;
    if (m_style == LineStyle::Journal) {
        m_out << '<' << syslogPriority(level) << '>' << levelName(level) << ' ' << text << '\n';
        m_out.flush();
        return;
    }
    const std::time_t now = m_clock ? m_clock() : std::time(nullptr);
    m_out << isoLocalTime(now) << ' ' << levelName(level) << ' ' << text << '\n';
    m_out.flush();
}

void StderrOperator::write(MessageLevel level, const std::string& text) { line(level, oneLine(text)); }

void StderrOperator::notify(const Notice& notice) { repeated(notice.severity, messageKey(notice.text, notice.caption)); }

void StderrOperator::repeated(MessageLevel level, const std::string& text) {
    const std::string key = oneLine(text);
    const bool shownThisRound = !m_thisRound.insert(key).second;
    // Written when it starts, and again if it comes more than once within one round (the bus scan's
    // answers from several addresses); a repeat in the following rounds is only counted.
    if (m_repeating.count(key) == 0 || shownThisRound) line(level, key);
}

void StderrOperator::writeEnded(const std::string& key, int rounds) {
    if (rounds < 2) return;  // shown once: its first line says everything
    line(MessageLevel::Info, "ended after " + std::to_string(rounds) + " moments: " + key);
}

void StderrOperator::endRound() {
    for (auto it = m_repeating.begin(); it != m_repeating.end();) {
        if (m_thisRound.count(it->first) == 0) {
            writeEnded(it->first, it->second);
            it = m_repeating.erase(it);
        } else {
            ++it->second;
            ++it;
        }
    }
    for (const std::string& key : m_thisRound) m_repeating.emplace(key, 1);
    m_thisRound.clear();
}

void StderrOperator::finish() {
    if (!m_thisRound.empty()) endRound();
    for (const auto& [key, rounds] : m_repeating) {
        if (rounds >= 2) line(MessageLevel::Info, "still repeating after " + std::to_string(rounds) + " moments: " + key);
    }
    m_repeating.clear();
}

}  // namespace quorna
