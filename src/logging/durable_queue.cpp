#include "logging/durable_queue.h"

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "logging/database_record_writer.h"
#include "logging/file_log_writer.h"

namespace quorna {
namespace {

enum class SpoolState { Open, Opening, Failed };

constexpr std::chrono::milliseconds kOpeningPollWait{50};

SpoolState ensureSpool(Logging& logging, ConnectWait wait) {
    if (logging.spool.isOpen()) return SpoolState::Open;
    const std::string path = spoolPath(logging);
    std::optional<Spool::Check> checked;
    if (wait != ConnectWait::Whole || logging.spoolCheck.valid()) {
        if (!logging.spoolCheck.valid()) {
            logging.spoolCheckPath = path;
            logging.spoolCheck = std::async(std::launch::async, [path] { return Spool::checkAhead(path); });
        }
        if (wait == ConnectWait::Whole) logging.spoolCheck.wait();
        // A catch-up slice gives the checks a moment (the logger runs its slices back to back).
        const auto moment = wait == ConnectWait::Briefly ? kOpeningPollWait : std::chrono::milliseconds(0);
        if (logging.spoolCheck.wait_for(moment) != std::future_status::ready) return SpoolState::Opening;
        checked = logging.spoolCheck.get();
        if (logging.spoolCheckPath != path) checked.reset();  // another file meanwhile: open checks it itself
    }
    const bool opened = logging.spool.open(path, checked);
    tellSpoolNotices(logging);
    return opened ? SpoolState::Open : SpoolState::Failed;
}

// The moment's records of both sinks enter the spool in one transaction: a stop leaves all of
// them there or none.
bool moveIntoSpool(Spool& spool, RecordQueue& fileQueue, RecordQueue& databaseQueue) {
    const std::vector<RecordPtr> fileRecords(fileQueue.records().begin(), fileQueue.records().end());
    const std::vector<RecordPtr> databaseRecords(databaseQueue.records().begin(), databaseQueue.records().end());
    if (!spool.append(fileRecords, databaseRecords)) return false;
    fileQueue.clear();
    databaseQueue.clear();
    return true;
}

void spoolFailed(Logging& logging) {
    const bool busy = logging.spool.busy();
    logging.spool.close();
    if (logging.spoolFailureShown) return;
    logging.spoolFailureShown = true;
    if (busy) {
        logging.op.warning(kSpoolBusyText + logging.spoolFileName + kSpoolBusyDetail);
    } else {
        logging.op.error(kSpoolFailureText);
    }
}

}  // namespace

std::size_t recordsWaiting(const Logging& logging) {
    return logging.fileQueue.size() + logging.databaseQueue.size() + logging.spool.count(Sink::File) +
           logging.spool.count(Sink::Database);
}

void keepWaitingRecords(Logging& logging, ConnectWait wait) {
    const SpoolState spool = ensureSpool(logging, wait);  // what an earlier run left is sent all the same
    if (logging.fileQueue.empty() && logging.databaseQueue.empty()) return;
    if (spool == SpoolState::Opening) return;  // the records wait in memory for the spool
    if (spool == SpoolState::Failed || !moveIntoSpool(logging.spool, logging.fileQueue, logging.databaseQueue)) {
        spoolFailed(logging);
        return;
    }
    logging.spoolFailureShown = false;
}

bool catchUpLogging(Logging& logging, ConnectWait wait) {
    if (spoolOpening(logging)) keepWaitingRecords(logging, wait);
    const bool file = logging.fileBehind;
    const bool database = logging.databaseBehind;
    if (!file && !database) return false;
    logging.sliceStart = std::chrono::steady_clock::now();
    if (file) FileLogWriter(logging);
    if (database) DatabaseRecordWriter(logging, wait);
    logging.sliceStart = {};
    return logging.fileBehind || logging.databaseBehind;
}

void finishLoggingWork(Logging& logging) {
    const bool opening = spoolOpening(logging);
    if (!opening && !databaseConnecting(logging)) return;
    if (opening) keepWaitingRecords(logging);
    logging.sliceStart = std::chrono::steady_clock::now();
    if (logging.fileBehind) FileLogWriter(logging);
    if (logging.databaseBehind || databaseConnecting(logging)) DatabaseRecordWriter(logging);
    logging.sliceStart = {};
}

}  // namespace quorna
