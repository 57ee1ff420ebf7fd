// The record of every frame seen on the bus: one line per frame, "<seconds> <hex bytes>",
// flushed at once so that a reader sees a request as soon as the meters have it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace quorna::metersim {

class RequestLog {
public:
    // Opens `path` for appending. Returns nullptr and sets `error` on failure.
    [[nodiscard]] static std::unique_ptr<RequestLog> open(const std::string& path, std::string& error);

    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // `seconds`: since the simulator started, written with 6 decimals; bytes as upper-case
    // hex pairs separated by single spaces.
    void record(double seconds, std::span<const uint8_t> bytes);

private:
    explicit RequestLog(std::FILE* file) : m_file(file) {}

    std::FILE* m_file;
};

}  // namespace quorna::metersim
