#pragma once
// The logic of the "Save-to-Database Setup" window, where the operator picks a data source and a
// table and links the program's variables to the table's columns, and of the "Database Setup"
// window that shows the link in force. The Qt windows only mirror what this holds.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "forms/add_table.h"
#include "logging/odbc_catalog.h"
#include "logging/logging.h"

namespace quorna {

// One row of the mapping list: a column of the selected table, its SQL type, and the variable
// linked to it (-1: none).
struct LinkRow {
    std::string column;
    std::int16_t sqlType = 0;
    int variable = -1;

    [[nodiscard]] bool linked() const { return variable >= 0; }
    bool operator==(const LinkRow&) const = default;
};

// How the mapping list shows a row: "Amps1\t->\tAMPS1" when linked, "\t\tAMPS1" when not.
[[nodiscard]] std::string linkRowText(const LinkRow& row);

// The DBMS names that want table and column names in square brackets contain this.
inline constexpr std::string_view kBracketDbmsMarker = "ACCESS";

class DatabaseLinkDialog {
public:
    explicit DatabaseLinkDialog(Logging& logging) : m_logging(logging) {}

    // Opens the window from the Off state: loads the ODBC library and the environment and lists
    // the data sources. False when the window must close again (a failed load or environment
    // allocation, already reported; the state is back to Off).
    [[nodiscard]] bool open();

    // Selections; -1 selects nothing. Selecting a data source lists its tables, selecting a table
    // lists its columns and links those whose names match a variable.
    void selectDataSource(int index);
    void selectTable(int index);
    void selectVariable(int index);
    void selectRow(int index);

    // "Link ->" and double clicks: links the selected variable to the selected row.
    void link();
    void unlink();
    void addColumn();
    // Lists the selected data source's tables again (after a table was added).
    void refreshTables() { selectDataSource(m_selectedDataSource); }
    // "Add Table", once the "Add Database Table" window closed with OK: creates the table in the
    // selected data source and, when it was created, lists the tables again. Nothing without a
    // selected data source.
    void addTable(const std::string& name, TableColumns columns);

    // What the window runs while a data source keeps the logic waiting (OdbcCatalog::setWaitHook):
    // it must not call back into this logic. Empty: the logic just waits.
    void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }

    // "OK": stores the link and makes database logging Active. False when the window stays open.
    [[nodiscard]] bool accept();
    // "Cancel" or closing: database logging Off, stored settings untouched.
    void cancel();

    // The edits: every change is taken at once and kept for the next opening.
    void setUser(std::string user) { m_user = std::move(user); }
    void setPassword(std::string password) { m_password = std::move(password); }
    [[nodiscard]] const std::string& user() const { return m_user; }
    [[nodiscard]] const std::string& password() const { return m_password; }

    [[nodiscard]] const std::vector<std::string>& dataSources() const { return m_dataSources; }
    [[nodiscard]] const std::vector<std::string>& tables() const { return m_tables; }
    [[nodiscard]] const std::vector<std::string>& variables() const { return m_variables; }
    [[nodiscard]] const std::vector<LinkRow>& rows() const { return m_rows; }
    [[nodiscard]] int selectedDataSource() const { return m_selectedDataSource; }
    [[nodiscard]] int selectedTable() const { return m_selectedTable; }
    [[nodiscard]] int selectedVariable() const { return m_selectedVariable; }
    [[nodiscard]] int selectedRow() const { return m_selectedRow; }
    [[nodiscard]] int linkedCount() const { return m_linkedCount; }
    [[nodiscard]] int kludgeFlags() const { return m_kludgeFlags; }
    [[nodiscard]] std::string selectedDataSourceName() const;
    [[nodiscard]] std::string selectedTableName() const;

    [[nodiscard]] bool okEnabled() const { return m_okEnabled; }
    [[nodiscard]] bool addTableEnabled() const { return m_addTableEnabled; }
    [[nodiscard]] bool addColumnEnabled() const { return m_addColumnEnabled; }
    [[nodiscard]] bool linkEnabled() const { return m_linkEnabled; }
    [[nodiscard]] bool unlinkEnabled() const { return m_unlinkEnabled; }

private:
    void disableAll();
    void updateButtonsForRow();
    void updateLinkButton();
    [[nodiscard]] bool rowSelectionValid() const;

    Logging& m_logging;  // the settings it stores the link in, the operator it tells
    std::function<void()> m_waitHook;
    std::string m_user;
    std::string m_password;
    std::vector<std::string> m_dataSources;
    std::vector<std::string> m_tables;
    std::vector<std::string> m_variables;
    std::vector<LinkRow> m_rows;
    int m_selectedDataSource = -1;
    int m_selectedTable = -1;
    int m_selectedVariable = -1;
    int m_selectedRow = -1;
    int m_linkedCount = 0;
    int m_kludgeFlags = 0;
    std::string m_identifierQuote;  // the selected data source's, for names that are not plain words
    std::uint16_t m_identifierCase = 0;  // the selected data source's SQL_IDENTIFIER_CASE; 0: not known
    bool m_okEnabled = false;
    bool m_addTableEnabled = false;
    bool m_addColumnEnabled = false;
    bool m_linkEnabled = false;
    bool m_unlinkEnabled = false;
};

// "New Database" in the "Database Setup" window: database logging stops, the stored database
// settings are cleared and every record waiting for the database is dropped.
void startNewDatabase(Logging& logging);

}  // namespace quorna
