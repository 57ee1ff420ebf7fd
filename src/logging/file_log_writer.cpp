#include "logging/file_log_writer.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

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

namespace {

using Clock = std::chrono::steady_clock;

// Appends one block to the log file. When the open, a write or the close fails, the file is cut
// back to the length it had before, so that it never holds half a block. `noteStart` runs once
// the file's length before the append is known; false from it stops the append before it begins.
bool appendBlock(const std::string& path, const FileWriteFunction& fileWrite, const std::string& block, bool sync,
                 const std::function<bool(const struct stat& before)>& noteStart) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
    if (fd < 0) return false;  // missing directory, no permission: the records wait for a later moment
    struct stat before{};
    if (::fstat(fd, &before) != 0 || (noteStart && !noteStart(before))) {
        ::close(fd);
        return false;
    }
    if (!writeAll(fileWrite, fd, block) || (sync && ::fsync(fd) != 0)) {
        // Nothing of this block may stay behind: the records are written again next time.
        (void)::ftruncate(fd, before.st_size);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        // A close that reports an error (a network file system flushing late) may have lost data.
        (void)::truncate(path.c_str(), before.st_size);
        return false;
    }
    return true;
}

// The lines of the Branch meters' records.
template <typename Records, typename RecordOf>
std::string blockOf(const Records& records, char delimiter, RecordOf recordOf) {
    std::string block;
    for (const auto& entry : records) {
        const ReadingsRecord& record = recordOf(entry);
        if (record.model == kBranchMeter) block += logLine(record, delimiter);
    }
    return block;
}

// Records read from the spool per block: about 60 KB of lines, so that the block that ends a
// slice (judged by the longest one before it) adds little to the slice.
constexpr std::size_t kSpoolBlockRecords = 200;

// Sends the spooled records, oldest first, a block at a time, until none is left or the slice
// is over. Each block is noted in the spool before it is appended and leaves the spool with its
// note once it is on disk. False when something failed: the rest waits for the next moment.
// `behind` is set when the slice ended first.
bool writeSpooledBlocks(Logging& logging, const FileWriteFunction& fileWrite, Clock::time_point deadline, bool& behind) {
    Spool& spool = logging.spool();
    const std::string& path = logging.settings().logFilePath;
    const char delimiter = delimiterForFormat(logging.settings().fileFormat);
    Clock::duration longestBlock{};
    bool first = true;  // one block at least, however late, so that every slice gets on
    // An append a stop interrupted is undone first; while its file cannot be reached, all waits.
    const bool settled = spool.settlePendingAppend(path);
    logging.tellSpoolNotices();
    if (!settled) return false;
    for (;;) {
        // Stop before a block that would run past the slice, judged by the longest one so far,
        // its read from the spool included: a block's syncs take their time unevenly.
        const auto blockStart = Clock::now();
        if (!first && blockStart + longestBlock >= deadline) {
            behind = true;  // a slice that finds nothing left clears it
            return true;
        }
        const std::vector<SpooledRecord> records = spool.oldest(Sink::File, kSpoolBlockRecords);
        if (records.empty()) return true;
        const std::int64_t lastId = records.back().id;
        const std::string block = blockOf(records, delimiter, [](const SpooledRecord& r) -> const ReadingsRecord& {
            return *r.record;
        });
        off_t sizeBefore = 0;
        const bool appended = appendBlock(path, fileWrite, block, true, [&](const struct stat& before) {
            sizeBefore = before.st_size;
            return spool.notePendingAppend({path, before.st_size, lastId,
                                            static_cast<std::int64_t>(before.st_dev),
                                            static_cast<std::int64_t>(before.st_ino)});
        });
        if (!appended) {
            (void)spool.clearPendingAppend();
            return false;
        }
        if (!spool.finishPendingAppend(lastId)) {
            // The spool could not let the block go: take it out of the file again, or it would
            // be written twice. (If even that fails, the note cuts it at the next start.)
            if (::truncate(path.c_str(), sizeBefore) == 0) (void)spool.clearPendingAppend();
            return false;
        }
        longestBlock = std::max(longestBlock, Clock::now() - blockStart);
        first = false;
    }
}

}  // namespace

void FileLogWriter(Logging& logging) {
    const auto deadline = logging.sliceDeadline();
    logging.m_fileBehind = false;
    const ConfigurationRecord& cfg = logging.m_settings;
    RecordQueue& queue = logging.m_fileQueue;
    if (!cfg.fileLoggingEnabled || cfg.logFilePath.empty()) return;
    if (logging.spoolOpening()) {
        logging.m_fileBehind = true;  // the spool's backlog goes first, once the spool is open
        return;
    }

    // What the spool holds is older than anything in memory: it goes first.
    if (logging.m_spool.isOpen() &&
        (!writeSpooledBlocks(logging, logging.m_fileWrite, deadline, logging.m_fileBehind) || logging.m_fileBehind))
        return;
    if (queue.empty()) return;

    // The records in memory (the spool could not take them) form one block, so that a failure
    // can be undone as a whole.
    const std::string block =
        blockOf(queue.records(), delimiterForFormat(cfg.fileFormat), [](const RecordPtr& r) -> const ReadingsRecord& {
            return *r;
        });
    if (appendBlock(cfg.logFilePath, logging.m_fileWrite, block, false, {})) queue.clear();
}

}  // namespace quorna
