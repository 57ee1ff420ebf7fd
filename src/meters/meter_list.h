#pragma once
// The main window's "Available Meters" list: entries in the order they were inserted, and the
// selection. The core owns its content; the window shows it (Operator::meterListChanged).

#include <string>
#include <vector>

#include "core/operator.h"

namespace quorna {

struct MeterList {
    explicit MeterList(Operator& op) : m_op(&op) {}

    std::vector<std::string> entries;
    int selection = -1;  // index into entries, -1 for none

    // Each change notifies the operator's window.
    void clear();
    void insert(int position, const std::string& text);  // position past the end appends
    void replace(int position, const std::string& text);
    void erase(int position);
    void select(int position);                            // -1 clears the selection
    [[nodiscard]] int count() const { return static_cast<int>(entries.size()); }

private:
    Operator* m_op;  // told of every change
};

// The address an entry starts with ("03 - PNL1 [...]" gives 3), or -1 when it starts with no digit.
int leadingAddress(const std::string& entry);

}  // namespace quorna
