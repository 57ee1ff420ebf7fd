#include "meters/meter_list.h"

#include <cstdio>
#include <utility>

namespace quorna {

std::string entryText(const MeterEntry& entry) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d - ", entry.address);
    return prefix + entry.name + " [" + entry.deviceText + "]";
}

std::string progressText(const SearchProgress& progress) {
    if (progress.address == 0) return "Searching...";
    char text[48];
    std::snprintf(text, sizeof text, "Searching: %d of %d", progress.address, progress.depth);
    return text;
}

const MeterEntry* MeterList::selectedEntry() const {
    return m_selection >= 0 && m_selection < count() ? &m_entries[static_cast<std::size_t>(m_selection)] : nullptr;
}

void MeterList::clear() {
    m_entries.clear();
    m_selection = -1;
    m_searching = false;
    m_progress = {};
    m_op->meterListChanged();
}

void MeterList::insert(int position, MeterEntry entry) {
    if (position < 0 || position > count()) position = count();
    m_entries.insert(m_entries.begin() + position, std::move(entry));
    if (m_selection >= position) ++m_selection;
    m_op->meterListChanged();
}

void MeterList::insertInAddressOrder(MeterEntry entry) {
    int position = 0;
    while (position < count() && m_entries[static_cast<std::size_t>(position)].address < entry.address) ++position;
    insert(position, std::move(entry));
}

void MeterList::select(int position) {
    m_selection = position >= 0 && position < count() ? position : -1;
    m_op->meterListChanged();
}

void MeterList::showProgress(SearchProgress progress) {
    m_searching = true;
    m_progress = progress;
    m_op->meterListChanged();
}

void MeterList::hideProgress() {
    m_searching = false;
    m_progress = {};
    m_op->meterListChanged();
}

}  // namespace quorna
