#include "request_log.h"

#include <cerrno>
#include <cstring>

namespace quorna::metersim {

std::unique_ptr<RequestLog> RequestLog::open(const std::string& path, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) {
        error = "request log " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<RequestLog>(new RequestLog(file));
}

RequestLog::~RequestLog()
{
    std::fclose(m_file);
}

void RequestLog::record(double seconds, std::span<const uint8_t> bytes)
{
    std::string line = [&] {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.6f", seconds);
        return std::string(stamp);
    }();
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    line += '\n';
    std::fputs(line.c_str(), m_file);
    std::fflush(m_file);
}

}  // namespace quorna::metersim
