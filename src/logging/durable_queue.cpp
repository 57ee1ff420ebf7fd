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

constexpr std::chrono::milliseconds kOpeningPollWait{50};

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

}  // namespace

Logging::SpoolState Logging::ensureSpool(ConnectWait wait) {
    if (m_spool.isOpen()) return SpoolState::Open;
    const std::string path = spoolPath();
    std::optional<Spool::Check> checked;
    if (wait != ConnectWait::Whole || m_spoolCheck.valid()) {
        if (!m_spoolCheck.valid()) {
            m_spoolCheckPath = path;
            m_spoolCheck = std::async(std::launch::async, [path] { return Spool::checkAhead(path); });
        }
        if (wait == ConnectWait::Whole) m_spoolCheck.wait();
        // A catch-up slice gives the checks a moment (the logger runs its slices back to back).
        const auto moment = wait == ConnectWait::Briefly ? kOpeningPollWait : std::chrono::milliseconds(0);
        if (m_spoolCheck.wait_for(moment) != std::future_status::ready) return SpoolState::Opening;
        checked = m_spoolCheck.get();
        if (m_spoolCheckPath != path) checked.reset();  // another file meanwhile: open checks it itself
    }
    const bool opened = m_spool.open(path, checked);
    tellSpoolNotices();
    return opened ? SpoolState::Open : SpoolState::Failed;
}

void Logging::spoolFailed() {
    const bool busy = m_spool.busy();
    m_spool.close();
    if (m_spoolFailureShown) return;
    m_spoolFailureShown = true;
    if (busy) {
        m_op.warning(kSpoolBusyText + m_spoolFileName + kSpoolBusyDetail);
    } else {
        m_op.error(kSpoolFailureText);
    }
}

void keepWaitingRecords(Logging& logging, ConnectWait wait) {
    using SpoolState = Logging::SpoolState;
    const SpoolState spool = logging.ensureSpool(wait);  // what an earlier run left is sent all the same
    if (logging.m_fileQueue.empty() && logging.m_databaseQueue.empty()) return;
    if (spool == SpoolState::Opening) return;  // the records wait in memory for the spool
    if (spool == SpoolState::Failed || !moveIntoSpool(logging.m_spool, logging.m_fileQueue, logging.m_databaseQueue)) {
        logging.spoolFailed();
        return;
    }
    logging.m_spoolFailureShown = false;
}

bool catchUpLogging(Logging& logging, ConnectWait wait) {
    if (logging.spoolOpening()) keepWaitingRecords(logging, wait);
    const bool file = logging.m_fileBehind;
    const bool database = logging.m_databaseBehind;
    if (!file && !database) return false;
    logging.startSlice();
    if (file) FileLogWriter(logging);
    if (database) DatabaseRecordWriter(logging, wait);
    logging.endSlice();
    return logging.m_fileBehind || logging.m_databaseBehind;
}

void finishLoggingWork(Logging& logging) {
    const bool opening = logging.spoolOpening();
    if (!opening && !databaseConnecting(logging)) return;
    if (opening) keepWaitingRecords(logging);
    logging.startSlice();
    if (logging.m_fileBehind) FileLogWriter(logging);
    if (logging.m_databaseBehind || databaseConnecting(logging)) DatabaseRecordWriter(logging);
    logging.endSlice();
}

}  // namespace quorna
