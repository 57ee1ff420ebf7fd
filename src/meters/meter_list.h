#pragma once
// The main window's "Available Meters" list: the meters a scan found, in the order they were
// inserted, the selection, and the scan's progress line above them while a scan runs. The core
// owns its content; the window makes the texts and shows them (Operator::meterListChanged).

#include <string>
#include <vector>

#include "core/operator.h"
#include "meters/meter_model.h"

namespace quorna {

// A meter the scan listed: its bus address, its model, its first name and the device text it
// reported for its slave ID.
struct MeterEntry {
    int address = 0;
    int model = kNoModel;
    std::string name;
    std::string deviceText;

    bool operator==(const MeterEntry&) const = default;
};

// Where the scan under way stands, as its progress line says: address 0 before the first address
// is asked, then the address being asked and the scan depth.
struct SearchProgress {
    int address = 0;
    int depth = 0;

    bool operator==(const SearchProgress&) const = default;
};

// The line the list shows for an entry: "03 - PNL1 [device text]".
std::string entryText(const MeterEntry& entry);
// The progress line: "Searching..." before the first address, then "Searching: 3 of 16".
std::string progressText(const SearchProgress& progress);

class MeterList {
public:
    explicit MeterList(Operator& op) : m_op(&op) {}

    [[nodiscard]] const std::vector<MeterEntry>& entries() const { return m_entries; }
    [[nodiscard]] int count() const { return static_cast<int>(m_entries.size()); }
    // Index into entries(), -1 for none.
    [[nodiscard]] int selection() const { return m_selection; }
    // The selected entry, or nullptr.
    [[nodiscard]] const MeterEntry* selectedEntry() const;
    // Whether the progress line shows (above the entries), and what it says.
    [[nodiscard]] bool searching() const { return m_searching; }
    [[nodiscard]] const SearchProgress& progress() const { return m_progress; }

    // Each change notifies the operator's window.
    void clear();                                   // the entries, the selection and the progress line
    void insert(int position, MeterEntry entry);    // position past the end appends
    void insertInAddressOrder(MeterEntry entry);    // before the first entry of a higher address
    void select(int position);                      // -1 clears the selection
    void showProgress(SearchProgress progress);
    void hideProgress();

private:
    Operator* m_op;  // told of every change
    std::vector<MeterEntry> m_entries;
    int m_selection = -1;
    bool m_searching = false;
    SearchProgress m_progress;
};

}  // namespace quorna
