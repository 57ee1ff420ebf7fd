#include "forms/database_link.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "logging/odbc_library.h"
#include "logging/variable_table.h"

namespace quorna {
namespace {

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

// A plain word (letters, digits and the underscore) is written as it stands.
bool isPlainWord(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
    });
}

// Whether the database would read the name, written without quotes, as another one: it folds
// unquoted names to lower case (PostgreSQL) or to upper case, and the name has letters of the other.
bool caseWouldFold(const std::string& name, SQLUSMALLINT identifierCase) {
    return std::any_of(name.begin(), name.end(), [identifierCase](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (identifierCase == SQL_IC_LOWER && std::isupper(u) != 0) ||
               (identifierCase == SQL_IC_UPPER && std::islower(u) != 0);
    });
}

// A table or column name as statements write it: in brackets where the kludge flags say so; a
// name that is not a plain word, or whose case the database would fold, between the data source's
// identifier quotes, a quote inside doubled; any other name as it stands.
std::string nameInStatement(const std::string& name, int kludgeFlags, const std::string& quote,
                            SQLUSMALLINT identifierCase) {
    if (kludgeFlags == kKludgeBrackets || quote.empty() || (isPlainWord(name) && !caseWouldFold(name, identifierCase)))
        return bracketed(name, kludgeFlags);
    std::string quoted = quote;
    for (std::size_t i = 0; i < name.size(); ++i) {
        quoted += name[i];
        if (name.compare(i, quote.size(), quote) == 0) quoted += quote;
    }
    return quoted + quote;
}

}  // namespace

bool DatabaseLinkDialog::isLinkedRow(const std::string& row) {
    return row.find(kLinkedSeparator) != std::string::npos;
}

std::string DatabaseLinkDialog::selectedDataSourceName() const {
    return m_selectedDataSource >= 0 ? m_dataSources[m_selectedDataSource] : std::string{};
}

std::string DatabaseLinkDialog::selectedTableName() const {
    return m_selectedTable >= 0 ? m_tables[m_selectedTable] : std::string{};
}

bool DatabaseLinkDialog::open() {
    ConfigurationRecord& config = m_logging.settings();
    config.databaseLogging = DatabaseLoggingState::SettingUp;
    OdbcLibrary& lib = odbcLibrary();
    if (lib.handle == nullptr) {
        const int result = loadOdbcLibrary();
        if (result != kOdbcLoaded) {
            m_logging.op().error(result == kOdbcLibraryMissing ? kOdbcLibraryMissingText : kOdbcFunctionsMissingText);
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
        m_logging.op().error(kOdbcEnvironmentText);
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
    if (m_dataSources.empty()) m_logging.op().warning(kNoDataSourcesText);

    m_variables.assign(VariableTable.begin(), VariableTable.end());
    m_selectedVariable = kMeterVariable;
    m_linkedCount = 0;
    disableAll();
    return true;
}

void DatabaseLinkDialog::disableAll() {
    m_okEnabled = m_addTableEnabled = m_addColumnEnabled = m_linkEnabled = m_unlinkEnabled = false;
}

void DatabaseLinkDialog::selectDataSource(int index) {
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
    if (!openSession(session, m_dataSources[m_selectedDataSource], m_user, m_password, m_logging.op(),
                     kSetupSessionTexts))
        return;

    SQLCHAR dbmsName[kDbmsNameBytes] = {};
    SQLSMALLINT dbmsLength = 0;
    if (!odbcSucceeded(lib.SQLGetInfo(session.connection(), SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &dbmsLength)))
        dbmsName[0] = '\0';
    dbmsName[sizeof dbmsName - 1] = '\0';
    m_kludgeFlags =
        std::string_view(reinterpret_cast<const char*>(dbmsName)).find(kBracketDbmsMarker) != std::string_view::npos
            ? kKludgeBrackets
            : 0;
    // How the data source quotes a name that is not one plain word; a blank: it cannot.
    SQLCHAR quote[8] = {};
    SQLSMALLINT quoteLength = 0;
    if (!odbcSucceeded(lib.SQLGetInfo(session.connection(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quoteLength)))
        quote[0] = '\0';
    quote[sizeof quote - 1] = '\0';
    m_identifierQuote = reinterpret_cast<const char*>(quote);
    if (m_identifierQuote == " ") m_identifierQuote.clear();
    // What the data source does with the case of a name written without quotes.
    SQLUSMALLINT identifierCase = 0;
    if (!odbcSucceeded(lib.SQLGetInfo(session.connection(), SQL_IDENTIFIER_CASE, &identifierCase, sizeof identifierCase,
                                      nullptr)))
        identifierCase = 0;
    m_identifierCase = identifierCase;

    if (!odbcSucceeded(lib.SQLTables(session.statement(), nullptr, 0, nullptr, 0, sqlText("%"), SQL_NTS,
                                     sqlText("'TABLE'"), SQL_NTS))) {
        m_logging.op().error(kTableListText);
        return;
    }
    SQLCHAR tableName[kCatalogNameBytes] = {};
    SQLLEN tableIndicator = 0;
    if (!odbcSucceeded(lib.SQLBindCol(session.statement(), kTablesTableNameColumn, SQL_C_CHAR, tableName,
                                      sizeof tableName, &tableIndicator))) {
        m_logging.op().error(kOdbcBindColumnText);
        return;
    }
    while (odbcSucceeded(lib.SQLFetch(session.statement()))) m_tables.push_back(boundText(tableName, tableIndicator));
    sortNames(m_tables);
    m_addTableEnabled = true;
}

void DatabaseLinkDialog::selectTable(int index) {
    m_rows.clear();
    m_rowTypes.clear();
    m_selectedRow = -1;
    m_okEnabled = m_addColumnEnabled = m_linkEnabled = m_unlinkEnabled = false;
    m_linkedCount = 0;
    m_selectedTable = (index >= 0 && index < static_cast<int>(m_tables.size())) ? index : -1;
    if (m_selectedDataSource < 0 || m_selectedTable < 0) return;

    OdbcLibrary& lib = odbcLibrary();
    OdbcSession session;
    if (!openSession(session, m_dataSources[m_selectedDataSource], m_user, m_password, m_logging.op(),
                     kSetupSessionTexts))
        return;
    std::string table = m_tables[m_selectedTable];
    if (!odbcSucceeded(lib.SQLColumns(session.statement(), nullptr, 0, nullptr, 0, sqlText(table.c_str()), SQL_NTS,
                                      sqlText("%"), SQL_NTS))) {
        m_logging.op().error(kColumnListText);
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
        m_logging.op().error(kOdbcBindColumnText);
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

bool DatabaseLinkDialog::rowSelectionValid() const {
    return m_selectedRow >= 0 && m_selectedRow < static_cast<int>(m_rows.size());
}

void DatabaseLinkDialog::updateLinkButton() {
    m_linkEnabled = rowSelectionValid() && m_selectedVariable >= 0 &&
                    isLinkable(m_selectedVariable, m_rowTypes[m_selectedRow]);
}

void DatabaseLinkDialog::updateButtonsForRow() {
    m_unlinkEnabled = rowSelectionValid() && isLinkedRow(m_rows[m_selectedRow]);
    updateLinkButton();
    m_okEnabled = m_linkedCount > 0;
}

void DatabaseLinkDialog::selectVariable(int index) {
    m_selectedVariable = (index >= 0 && index < static_cast<int>(m_variables.size())) ? index : -1;
    updateLinkButton();
}

void DatabaseLinkDialog::selectRow(int index) {
    m_selectedRow = (index >= 0 && index < static_cast<int>(m_rows.size())) ? index : -1;
    updateButtonsForRow();
}

void DatabaseLinkDialog::link() {
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

void DatabaseLinkDialog::unlink() {
    if (rowSelectionValid()) {
        std::string& row = m_rows[m_selectedRow];
        if (const auto at = row.find(kLinkedSeparator); at != std::string::npos) {
            row = std::string(kUnlinkedPrefix) + row.substr(at + kLinkedSeparator.size());
            --m_linkedCount;
        }
    }
    updateButtonsForRow();
}

void DatabaseLinkDialog::addTable(const std::string& name, TableColumns columns) {
    if (m_selectedDataSource < 0) return;
    if (createDatabaseTable(m_dataSources[m_selectedDataSource], m_user, m_password, name, columns, m_logging.op())) refreshTables();
}

void DatabaseLinkDialog::addColumn() { m_logging.op().info(kAddColumnText); }

bool DatabaseLinkDialog::accept() {
    DatabaseSettings& settings = m_logging.settings().database;
    settings.links.clear();
    settings.user = m_user.substr(0, kUserCapacity);
    settings.password = m_password.substr(0, kPasswordCapacity);
    if (m_selectedDataSource < 0) {
        m_logging.op().error(kStoreDsnText);
        return false;
    }
    settings.dsn = m_dataSources[m_selectedDataSource];
    if (m_selectedTable < 0) {
        m_logging.op().error(kStoreTableText);
        return false;
    }
    settings.table = nameInStatement(m_tables[m_selectedTable], m_kludgeFlags, m_identifierQuote, m_identifierCase);
    settings.kludgeFlags = m_kludgeFlags;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const std::string& row = m_rows[r];
        const auto at = row.find(kLinkedSeparator);
        if (at == std::string::npos) continue;
        const std::string variable = row.substr(0, at);
        const auto found = std::find(VariableTable.begin(), VariableTable.end(), variable);
        if (found == VariableTable.end()) continue;
        settings.links.push_back(ColumnLink{static_cast<int>(found - VariableTable.begin()), m_rowTypes[r],
                                            nameInStatement(row.substr(at + kLinkedSeparator.size()),
                                                            m_kludgeFlags, m_identifierQuote, m_identifierCase)});
    }
    m_logging.settings().databaseLogging = DatabaseLoggingState::Active;
    return true;
}

void DatabaseLinkDialog::cancel() { m_logging.settings().databaseLogging = DatabaseLoggingState::Off; }

void startNewDatabase(Logging& logging) {
    ConfigurationRecord& config = logging.settings();
    config.databaseLogging = DatabaseLoggingState::Off;
    config.database.clear();
    logging.discardDatabaseRecords();
}

}  // namespace quorna
