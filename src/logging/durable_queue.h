#pragma once
// The waiting records' way through the spool: the sampler hands each moment's records to the
// spool, the writers send what the spool holds, oldest first, a time slice at a time.

#include "logging/logging.h"

namespace quorna {

// Moves the records queued in memory (this moment's, and any kept while the spool could not be
// written) into the spool, in one transaction per sink, opening the spool first if needed. On
// failure they stay in memory and the operator is told once.
// The spool's first opening checks the whole file; unless `wait` is Whole it runs on a thread of
// its own, and the records wait in memory until a later call (a catch-up slice) finds it done.
void keepWaitingRecords(Logging& logging, ConnectWait wait = ConnectWait::Whole);

// Whether the spool's first opening is under way: the writers wait for it, as if behind.
[[nodiscard]] inline bool spoolOpening(const Logging& logging) { return logging.spoolOpening(); }

// Waits for what a tick left under way (the spool's opening, a connect to the database), then
// sends the records as the tick would have: a tick run to its end.
void finishLoggingWork(Logging& logging);

// One slice of sending the backlog, for the caller to run between its ticks while a writer is
// behind. True while records are still waiting for another slice. A writer that is running (its
// box is open) is left out; when only such a writer is behind it does nothing and says false: the
// caller asks again after its next tick.
// The database writer waits for a connect as `wait` says.
bool catchUpLogging(Logging& logging, ConnectWait wait = ConnectWait::Whole);

// Whether a writer stopped at the end of its time slice with records still waiting.
[[nodiscard]] inline bool loggingBehind(const Logging& logging) { return logging.behind(); }

}  // namespace quorna
