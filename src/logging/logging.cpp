#include "logging/logging.h"

namespace quorna {

std::chrono::steady_clock::time_point Logging::sliceDeadline() const {
    const auto start = m_sliceStart == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::now() : m_sliceStart;
    return start + kSliceBudget;
}

std::size_t Logging::recordsWaiting() const {
    return m_fileQueue.size() + m_databaseQueue.size() + m_spool.count(Sink::File) + m_spool.count(Sink::Database);
}

void Logging::tellSpoolNotices() {
    for (const std::string& notice : m_spool.takeNotices()) m_op.error(notice, kSpoolNoticeCaption);
}

void Logging::discardFileRecords() {
    m_fileQueue.clear();
    (void)m_spool.removeAll(Sink::File);
    m_fileBehind = false;
}

void Logging::discardDatabaseRecords() {
    m_databaseQueue.clear();
    (void)m_spool.removeAll(Sink::Database);
    m_databaseBehind = false;
}

}  // namespace quorna
