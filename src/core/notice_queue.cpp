#include "core/notice_queue.h"

#include <algorithm>

namespace quorna {

bool NoticeQueue::push(const Notice& notice) {
    if (std::find(m_notices.begin(), m_notices.end(), notice) != m_notices.end()) return false;
    m_notices.push_back(notice);
    return true;
}

void NoticeQueue::pop() {
    if (!m_notices.empty()) m_notices.pop_front();
}

}  // namespace quorna
