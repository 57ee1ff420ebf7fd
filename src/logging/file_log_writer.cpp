#include "logging/file_log_writer.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/logging.h"

namespace quorna {
namespace {

constexpr mode_t kLogFileMode = 0644;

// Writes the whole block, going on after short writes and interrupted calls. False on any failure.
bool writeAll(const FileWriteFunction& write, int fd, const std::string& block) {
    std::size_t done = 0;
    while (done < block.size()) {
        const char* bytes = block.data() + done;
        const std::size_t count = block.size() - done;
        const ssize_t n = write ? write(fd, bytes, count) : ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

char delimiterForFormat(int format) {
    switch (format) {
        case kFormatTab: return '\t';
        case kFormatSpace: return ' ';
        default: return ',';
    }
}

std::string logLine(const ReadingsRecord& record, char delimiter) {
    char stamp[32] = "";
    std::tm local{};
    const std::time_t time = record.time;
    if (localtime_r(&time, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &local);

    char field[48];
    std::snprintf(field, sizeof field, "%s%c%d%c", stamp, delimiter, record.address, delimiter);
    std::string line = field;
    for (std::size_t i = 0; i < record.current.size(); ++i) {
        if (i > 0) line += delimiter;
        std::snprintf(field, sizeof field, "%.3f", static_cast<double>(record.current[i]));
        line += field;
    }
    line += "\r\n";
    return line;
}

void FileLogWriter(Logging& logging) {
    const ConfigurationRecord& cfg = logging.settings;
    RecordQueue& queue = logging.fileQueue;
    if (!cfg.fileLoggingEnabled || cfg.logFilePath.empty() || queue.empty()) return;

    const int fd = ::open(cfg.logFilePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
    if (fd < 0) return;  // missing directory, no permission: the records wait for a later moment

    // The moment's lines form one block, so that a failure can be undone as a whole.
    const char delimiter = delimiterForFormat(cfg.fileFormat);
    std::string block;
    for (const RecordPtr& record : queue.records()) {
        if (record->model == kBranchMeter) block += logLine(*record, delimiter);
    }

    struct stat before{};
    if (::fstat(fd, &before) != 0) {
        ::close(fd);
        return;
    }
    if (!writeAll(logging.fileWrite, fd, block)) {
        // Nothing of this block may stay behind: the records are written again next time.
        (void)::ftruncate(fd, before.st_size);
        ::close(fd);
        return;
    }
    if (::close(fd) != 0) {
        // A close that reports an error (a network file system flushing late) may have lost data.
        (void)::truncate(cfg.logFilePath.c_str(), before.st_size);
        return;
    }
    queue.clear();
}

}  // namespace quorna
