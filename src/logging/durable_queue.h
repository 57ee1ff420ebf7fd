#pragma once
// The waiting records' way through the spool: the sampler hands each moment's records to the
// spool, the writers send what the spool holds, oldest first, a time slice at a time.

#include <chrono>

#include "logging/logging.h"

namespace quorna {

// The longest a writer works before it gives the window back; what is left waits for the next
// slice (catchUpLogging) or the next moment.
inline constexpr std::chrono::milliseconds kSliceBudget{200};

// What the operator is told, once, when the spool cannot be opened or written.
inline constexpr const char* kSpoolFailureText =
    "Couldn't write the spool file \"Quorna-spool.db\"\nReadings are kept in memory until it can be written";
// What the operator is told, once per run, when a record the database refused went to the
// rejected records' file.
inline constexpr const char* kRejectedText =
    "The database refused a reading three times\nIt was moved to \"Quorna-rejected.txt\" and logging goes on";

// Moves the records queued in memory (this moment's, and any kept while the spool could not be
// written) into the spool, in one transaction per sink, opening the spool first if needed. On
// failure they stay in memory and the operator is told once.
void keepWaitingRecords(Logging& logging);

// One slice of sending the backlog, for the caller to run between its ticks while a writer is
// behind. True while records are still waiting for another slice; false as well inside a logging
// cycle (a writer's box is open), where it does nothing: the caller asks again after its next tick.
bool catchUpLogging(Logging& logging);

// Whether a writer stopped at the end of its time slice with records still waiting.
[[nodiscard]] inline bool loggingBehind(const Logging& logging) { return logging.fileBehind || logging.databaseBehind; }

}  // namespace quorna
