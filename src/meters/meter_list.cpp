#include "meters/meter_list.h"

#include <cctype>
#include <climits>

namespace quorna {
void MeterList::clear() {
    entries.clear();
    selection = -1;
    m_op->meterListChanged();
}

void MeterList::insert(int position, const std::string& text) {
    if (position < 0 || position > count()) position = count();
    entries.insert(entries.begin() + position, text);
    if (selection >= position) ++selection;
    m_op->meterListChanged();
}

void MeterList::replace(int position, const std::string& text) {
    if (position < 0 || position >= count()) return;
    entries[static_cast<std::size_t>(position)] = text;
    m_op->meterListChanged();
}

void MeterList::erase(int position) {
    if (position < 0 || position >= count()) return;
    entries.erase(entries.begin() + position);
    if (selection == position) {
        selection = -1;
    } else if (selection > position) {
        --selection;
    }
    m_op->meterListChanged();
}

void MeterList::select(int position) {
    selection = position >= 0 && position < count() ? position : -1;
    m_op->meterListChanged();
}

int leadingAddress(const std::string& entry) {
    // Like a C decimal conversion: leading blanks and a sign are allowed before the digits.
    std::size_t i = 0;
    while (i < entry.size() && std::isspace(static_cast<unsigned char>(entry[i])) != 0) ++i;
    bool negative = false;
    if (i < entry.size() && (entry[i] == '+' || entry[i] == '-')) negative = entry[i++] == '-';
    if (i >= entry.size() || std::isdigit(static_cast<unsigned char>(entry[i])) == 0) return -1;
    long value = 0;
    while (i < entry.size() && std::isdigit(static_cast<unsigned char>(entry[i])) != 0) {
        value = value * 10 + (entry[i++] - '0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace quorna
