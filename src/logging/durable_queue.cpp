#include "logging/durable_queue.h"

#include <vector>

#include "logging/database_record_writer.h"
#include "logging/file_log_writer.h"

namespace quorna {
namespace {

bool ensureSpool(Logging& logging) {
    if (logging.spool.isOpen()) return true;
    const bool opened = logging.spool.open(spoolPath(logging));
    tellSpoolNotices(logging);
    return opened;
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

void keepWaitingRecords(Logging& logging) {
    if (logging.fileQueue.empty() && logging.databaseQueue.empty()) {
        (void)ensureSpool(logging);  // what an earlier run left is sent all the same
        return;
    }
    if (!ensureSpool(logging) || !moveIntoSpool(logging.spool, logging.fileQueue, logging.databaseQueue)) {
        spoolFailed(logging);
        return;
    }
    logging.spoolFailureShown = false;
}

bool catchUpLogging(Logging& logging, ConnectWait wait) {
    const bool file = logging.fileBehind;
    const bool database = logging.databaseBehind;
    if (!file && !database) return false;
    logging.sliceStart = std::chrono::steady_clock::now();
    if (file) FileLogWriter(logging);
    if (database) DatabaseRecordWriter(logging, wait);
    logging.sliceStart = {};
    return logging.fileBehind || logging.databaseBehind;
}

}  // namespace quorna
