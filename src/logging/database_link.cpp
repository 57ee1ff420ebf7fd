#include "logging/database_link.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/operator.h"
#include "logging/odbc_library.h"
#include "logging/readings_record.h"
#include "logging/variable_table.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

DatabaseLinkLogic g_linkLogic;

// Data source names are taken up to this many characters.
constexpr int kDataSourceNameCapacity = 32;
// Catalog result columns are bound with this many bytes.
constexpr int kCatalogNameBytes = 128;
constexpr int kDbmsNameBytes = 256;

// Result columns of SQLTables and SQLColumns.
constexpr SQLUSMALLINT kTablesTableNameColumn = 3;
constexpr SQLUSMALLINT kColumnsColumnNameColumn = 4;
constexpr SQLUSMALLINT kColumnsDataTypeColumn = 5;

constexpr const char* kNoDataSourcesText =
    "Could not find any defined databases (DSN)\nThese are usually added with the \"32bit ODBC\" "
    "Control Panel";
constexpr const char* kTableListText = "Can't read this database's table list";
constexpr const char* kColumnListText = "Can't read this table's column list";
constexpr const char* kAddColumnText =
    "The feature to add another column to a database\nisn't written yet.  Please use your database "
    "software";
constexpr const char* kStoreDsnText = "Error storing DSN";
constexpr const char* kStoreTableText = "Error storing table name";

void show(const std::string& text) { ui().messageBox(text, ""); }

// List boxes that sort do so without regard to letter case.
void sortNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
        });
    });
}

SQLCHAR* sqlText(const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); }

std::string boundText(const SQLCHAR* buffer, SQLLEN indicator) {
    if (indicator == SQL_NULL_DATA) return {};
    return std::string(reinterpret_cast<const char*>(buffer));
}

std::string bracketed(const std::string& name, int kludgeFlags) {
    return kludgeFlags == kKludgeBrackets ? "[" + name + "]" : name;
}

// Connects to the data source with the typed user name and password, reporting a failure.
bool connectSession(OdbcSession& session, const std::string& dsn, const std::string& user,
                    const std::string& password) {
    if (!session.allocConnect()) {
        show(kOdbcAllocConnectionText);
        return false;
    }
    const SQLRETURN rc = session.connect(dsn, user, password);
    if (!odbcSucceeded(rc)) {
        show(describeConnectFailure(session.connection(), rc));
        return false;
    }
    return true;
}

}  // namespace

DatabaseLinkLogic& databaseLinkLogic() { return g_linkLogic; }

bool DatabaseLinkLogic::isLinkedRow(const std::string& row) {
    return row.find(kLinkedSeparator) != std::string::npos;
}

std::string DatabaseLinkLogic::selectedDataSourceName() const {
    return m_selectedDataSource >= 0 ? m_dataSources[m_selectedDataSource] : std::string{};
}

std::string DatabaseLinkLogic::selectedTableName() const {
    return m_selectedTable >= 0 ? m_tables[m_selectedTable] : std::string{};
}

bool DatabaseLinkLogic::open() {
    ConfigurationRecord& config = configuration();
    config.databaseLogging = DatabaseLoggingState::SettingUp;
    OdbcLibrary& lib = odbcLibrary();
    if (lib.handle == nullptr) {
        const int result = loadOdbcLibrary();
        if (result != kOdbcLoaded) {
            show(result == kOdbcLibraryMissing ? kOdbcLibraryMissingText : kOdbcFunctionsMissingText);
            cancel();
            return false;
        }
    }
    m_dataSources.clear();
    m_tables.clear();
    m_variables.clear();
    m_rows.clear();
    m_rowTypes.clear();
    m_selectedDataSource = m_selectedTable = m_selectedVariable = m_selectedRow = -1;
    m_kludgeFlags = 0;
    if (!ensureOdbcEnvironment()) {
        show(kOdbcEnvironmentText);
        cancel();
        return false;
    }

    SQLCHAR name[kDataSourceNameCapacity + 1];
    SQLCHAR description[kOdbcMessageCapacity];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT descriptionLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
        std::memset(name, 0, sizeof name);
        if (!odbcSucceeded(lib.SQLDataSources(lib.environment, direction, name, sizeof name, &nameLength,
                                              description, sizeof description, &descriptionLength)))
            break;
        m_dataSources.emplace_back(reinterpret_cast<const char*>(name));
    }
    sortNames(m_dataSources);
    if (m_dataSources.empty()) show(kNoDataSourcesText);

    m_variables.assign(VariableTable.begin(), VariableTable.end());
    m_selectedVariable = kMeterVariable;
    m_linkedCount = 0;
    disableAll();
    return true;
}

void DatabaseLinkLogic::disableAll() {
    m_okEnabled = m_addTableEnabled = m_addColumnEnabled = m_linkEnabled = m_unlinkEnabled = false;
}

void DatabaseLinkLogic::selectDataSource(int index) {
    m_tables.clear();
    m_rows.clear();
    m_rowTypes.clear();
    m_selectedTable = m_selectedRow = -1;
    disableAll();
    m_linkedCount = 0;
    m_selectedDataSource = (index >= 0 && index < static_cast<int>(m_dataSources.size())) ? index : -1;
    if (m_selectedDataSource < 0) return;

    OdbcLibrary& lib = odbcLibrary();
    OdbcSession session;
    if (!connectSession(session, m_dataSources[m_selectedDataSource], m_user, m_password)) return;

    SQLCHAR dbmsName[kDbmsNameBytes] = {};
    SQLSMALLINT dbmsLength = 0;
    if (!odbcSucceeded(lib.SQLGetInfo(session.connection(), SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &dbmsLength)))
        dbmsName[0] = '\0';
    dbmsName[sizeof dbmsName - 1] = '\0';
    m_kludgeFlags =
        std::string_view(reinterpret_cast<const char*>(dbmsName)).find(kBracketDbmsMarker) != std::string_view::npos
            ? kKludgeBrackets
            : 0;

    if (!session.allocStmt()) {
        show(kOdbcAllocStatementText);
        return;
    }
    if (!odbcSucceeded(lib.SQLTables(session.statement(), nullptr, 0, nullptr, 0, sqlText("%"), SQL_NTS,
                                     sqlText("'TABLE'"), SQL_NTS))) {
        show(kTableListText);
        return;
    }
    SQLCHAR tableName[kCatalogNameBytes] = {};
    SQLLEN tableIndicator = 0;
    if (!odbcSucceeded(lib.SQLBindCol(session.statement(), kTablesTableNameColumn, SQL_C_CHAR, tableName,
                                      sizeof tableName, &tableIndicator))) {
        show(kOdbcBindColumnText);
        return;
    }
    while (odbcSucceeded(lib.SQLFetch(session.statement()))) m_tables.push_back(boundText(tableName, tableIndicator));
    sortNames(m_tables);
    m_addTableEnabled = true;
}

void DatabaseLinkLogic::selectTable(int index) {
    m_rows.clear();
    m_rowTypes.clear();
    m_selectedRow = -1;
    m_okEnabled = m_addColumnEnabled = m_linkEnabled = m_unlinkEnabled = false;
    m_linkedCount = 0;
    m_selectedTable = (index >= 0 && index < static_cast<int>(m_tables.size())) ? index : -1;
    if (m_selectedDataSource < 0 || m_selectedTable < 0) return;

    OdbcLibrary& lib = odbcLibrary();
    OdbcSession session;
    if (!connectSession(session, m_dataSources[m_selectedDataSource], m_user, m_password)) return;
    if (!session.allocStmt()) {
        show(kOdbcAllocStatementText);
        return;
    }
    std::string table = m_tables[m_selectedTable];
    if (!odbcSucceeded(lib.SQLColumns(session.statement(), nullptr, 0, nullptr, 0, sqlText(table.c_str()), SQL_NTS,
                                      sqlText("%"), SQL_NTS))) {
        show(kColumnListText);
        return;
    }
    SQLCHAR columnName[kCatalogNameBytes] = {};
    SQLLEN nameIndicator = 0;
    SQLSMALLINT dataType = 0;
    SQLLEN typeIndicator = 0;
    if (!odbcSucceeded(lib.SQLBindCol(session.statement(), kColumnsColumnNameColumn, SQL_C_CHAR, columnName,
                                      sizeof columnName, &nameIndicator)) ||
        !odbcSucceeded(lib.SQLBindCol(session.statement(), kColumnsDataTypeColumn, SQL_C_SSHORT, &dataType, 0,
                                      &typeIndicator))) {
        show(kOdbcBindColumnText);
        return;
    }
    while (odbcSucceeded(lib.SQLFetch(session.statement()))) {
        const std::string column = boundText(columnName, nameIndicator);
        const std::int16_t type = typeIndicator == SQL_NULL_DATA ? 0 : dataType;
        std::string row = std::string(kUnlinkedPrefix) + column;
        for (int v = 0; v < kVariableCount; ++v) {
            if (isLinkable(v, type) && namesMatch(VariableTable[v], column)) {
                row = std::string(VariableTable[v]) + std::string(kLinkedSeparator) + column;
                ++m_linkedCount;
                break;
            }
        }
        m_rows.push_back(std::move(row));
        m_rowTypes.push_back(type);
    }
    m_addColumnEnabled = true;
    m_okEnabled = m_linkedCount > 0;
}

bool DatabaseLinkLogic::rowSelectionValid() const {
    return m_selectedRow >= 0 && m_selectedRow < static_cast<int>(m_rows.size());
}

void DatabaseLinkLogic::updateLinkButton() {
    m_linkEnabled = rowSelectionValid() && m_selectedVariable >= 0 &&
                    isLinkable(m_selectedVariable, m_rowTypes[m_selectedRow]);
}

void DatabaseLinkLogic::updateButtonsForRow() {
    m_unlinkEnabled = rowSelectionValid() && isLinkedRow(m_rows[m_selectedRow]);
    updateLinkButton();
    m_okEnabled = m_linkedCount > 0;
}

void DatabaseLinkLogic::selectVariable(int index) {
    m_selectedVariable = (index >= 0 && index < static_cast<int>(m_variables.size())) ? index : -1;
    updateLinkButton();
}

void DatabaseLinkLogic::selectRow(int index) {
    m_selectedRow = (index >= 0 && index < static_cast<int>(m_rows.size())) ? index : -1;
    updateButtonsForRow();
}

void DatabaseLinkLogic::link() {
    if (!rowSelectionValid() || m_selectedVariable < 0 || !isLinkable(m_selectedVariable, m_rowTypes[m_selectedRow]))
        return;
    std::string& row = m_rows[m_selectedRow];
    std::string column;
    if (const auto at = row.find(kLinkedSeparator); at != std::string::npos) {
        column = row.substr(at + kLinkedSeparator.size());
    } else {
        column = row.substr(std::min(row.size(), kUnlinkedPrefix.size()));
        ++m_linkedCount;
    }
    row = std::string(VariableTable[m_selectedVariable]) + std::string(kLinkedSeparator) + column;
    updateButtonsForRow();
}

void DatabaseLinkLogic::unlink() {
    if (rowSelectionValid()) {
        std::string& row = m_rows[m_selectedRow];
        if (const auto at = row.find(kLinkedSeparator); at != std::string::npos) {
            row = std::string(kUnlinkedPrefix) + row.substr(at + kLinkedSeparator.size());
            --m_linkedCount;
        }
    }
    updateButtonsForRow();
}

void DatabaseLinkLogic::addTable(const std::string& name, TableColumns columns) {
    if (m_selectedDataSource < 0) return;
    if (createDatabaseTable(m_dataSources[m_selectedDataSource], m_user, m_password, name, columns)) refreshTables();
}

void DatabaseLinkLogic::addColumn() { show(kAddColumnText); }

bool DatabaseLinkLogic::accept() {
    DatabaseSettings& settings = configuration().database;
    settings.links.clear();
    settings.user = m_user.substr(0, kUserCapacity);
    settings.password = m_password.substr(0, kPasswordCapacity);
    if (m_selectedDataSource < 0) {
        show(kStoreDsnText);
        return false;
    }
    settings.dsn = m_dataSources[m_selectedDataSource];
    if (m_selectedTable < 0) {
        show(kStoreTableText);
        return false;
    }
    settings.table = bracketed(m_tables[m_selectedTable], m_kludgeFlags);
    settings.kludgeFlags = m_kludgeFlags;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const std::string& row = m_rows[r];
        const auto at = row.find(kLinkedSeparator);
        if (at == std::string::npos) continue;
        const std::string variable = row.substr(0, at);
        const auto found = std::find(VariableTable.begin(), VariableTable.end(), variable);
        if (found == VariableTable.end()) continue;
        settings.links.push_back(ColumnLink{static_cast<int>(found - VariableTable.begin()), m_rowTypes[r],
                                            bracketed(row.substr(at + kLinkedSeparator.size()), m_kludgeFlags)});
    }
    configuration().databaseLogging = DatabaseLoggingState::Active;
    return true;
}

void DatabaseLinkLogic::cancel() { configuration().databaseLogging = DatabaseLoggingState::Off; }

void startNewDatabase() {
    ConfigurationRecord& config = configuration();
    config.databaseLogging = DatabaseLoggingState::Off;
    config.database.clear();
    databaseQueue().clear();
}

void resetDatabaseLinkForTests() { g_linkLogic = DatabaseLinkLogic{}; }

}  // namespace quorna
