#pragma once
// The delimited text log: every record waiting in the file queue becomes one line of the log file
// (Branch meters only), appended as one block, the file opened and closed once per moment.

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <sys/types.h>

#include "logging/readings_record.h"

namespace quorna {

class Logging;

// Runs only while file logging is enabled, a path is chosen and the file queue holds records.
// The queue is emptied only when every line reached the file and the file closed cleanly. When
// the file cannot be opened, or a write or the close fails, the file is cut back to the length
// it had before this block and every record stays queued, in order, for the next moment: the
// file never holds half a line, a lost line or a line twice. No message is shown.
void FileLogWriter(Logging& logging);

// The file formats: comma, tab or space delimited.
inline constexpr int kFormatComma = 1;
inline constexpr int kFormatTab = 2;
inline constexpr int kFormatSpace = 3;

// The delimiter of a file format: 2 TAB, 3 space, anything else a comma.
[[nodiscard]] char delimiterForFormat(int format);

// The line of a Branch meter's record, CR LF included: local time "%m/%d/%Y %H:%M:%S", the
// address, then the 42 currents "%.3f", separated by the delimiter.
[[nodiscard]] std::string logLine(const ReadingsRecord& record, char delimiter);

// How the writer writes to the open file (Logging::useFileWrite): ::write unless a test stands in a
// failing device.
using FileWriteFunction = std::function<ssize_t(int fd, const void* bytes, std::size_t count)>;

}  // namespace quorna
