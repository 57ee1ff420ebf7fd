#pragma once
// The notices waiting for the operator, the first of them on show. A notice equal to one already
// waiting or on show is not queued again: a database that stays away says so once while its box
// is open, not once more at every logging moment.

#include <deque>

#include "core/operator.h"

namespace quorna {

class NoticeQueue {
public:
    // False when an equal notice already waits or is on show.
    bool push(const Notice& notice);
    [[nodiscard]] bool empty() const { return m_notices.empty(); }
    // The notice on show. Only while not empty.
    [[nodiscard]] const Notice& front() const { return m_notices.front(); }
    // The operator answered the notice on show.
    void pop();

private:
    std::deque<Notice> m_notices;
};

}  // namespace quorna
