#pragma once
// The logging cycle: at every logging moment, read every listed meter and hand the readings to
// the file writer and the database writer.

namespace quorna {

// Called at the end of every timer tick in which the port is open, no scan runs, and file logging
// is enabled or database logging is Active. Decides by itself whether a logging moment has come.
void LoggingSampler();

}  // namespace quorna
