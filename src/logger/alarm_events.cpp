#include "logger/alarm_events.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "logger/live_snapshot.h"
#include "meters/meter_model.h"

namespace quorna {
namespace {

std::string amps(double value, const char* format) {
    if (std::isnan(value)) return "unknown";
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string localTime(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

}  // namespace

void AlarmEvents::compare(int address, const std::string& name, const MeterLamps& before, const MeterReadout& now,
                          std::time_t when) {
    if (now.model == kBranchMeter) {
        for (std::size_t i = 0; i < before.breaker.size(); ++i) {
            if (before.breaker[i] == now.lamps.breaker[i]) continue;
            tell(address, name, "breaker " + std::to_string(i + 1), before.breaker[i], now.lamps.breaker[i],
                 amps(now.breakerAmps[i], "%.3f A"), when);
        }
        return;
    }
    if (!isCircuitModel(now.model)) return;
    if (before.overAmps != now.lamps.overAmps) {
        const double highest = std::max({now.currentA, now.currentB, now.currentC});
        tell(address, name, "current", before.overAmps, now.lamps.overAmps, amps(highest, "%.2f A"), when);
    }
    if (before.overVolts != now.lamps.overVolts) {
        const double highest = std::max({now.lnAN, now.lnBN, now.lnCN});
        tell(address, name, "voltage", before.overVolts, now.lamps.overVolts, amps(highest, "%.2f V"), when);
    }
}

void AlarmEvents::tell(int address, const std::string& name, const std::string& what, Lamp before, Lamp after,
                       const std::string& value, std::time_t when) {
    const std::string meter = "meter " + std::to_string(address) + (name.empty() ? "" : " " + name);
    m_op.write(MessageLevel::Warning, meter + " " + what + ": " + levelName(after) + " (" + value + "), was " +
                                          levelName(before));
    ++m_counts[{address, levelName(after)}];
    append(localTime(when) + "\t" + std::to_string(address) + "\t" + name + "\t" + what + "\t" + levelName(before) +
           "\t" + levelName(after) + "\t" + value + "\n");
}

void AlarmEvents::append(const std::string& line) {
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    const int openError = errno;
    std::size_t written = 0;
    while (ok && written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else written += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int error = fd < 0 ? openError : errno;
    if (fd >= 0) ::close(fd);
    if (ok) {
        m_fileTroubleSaid = false;
    } else if (!m_fileTroubleSaid) {
        // Said once until a line goes in again: the events still reach standard error.
        m_op.write(MessageLevel::Error, "the events file " + m_path + " cannot be written (" + std::strerror(error) + ")");
        m_fileTroubleSaid = true;
    }
}

}  // namespace quorna
