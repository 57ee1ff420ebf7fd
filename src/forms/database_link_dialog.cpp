#include "forms/database_link_dialog.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "logging/odbc_catalog.h"
#include "logging/odbc_library.h"
#include "logging/variable_table.h"

namespace quorna {
namespace {

constexpr const char* kNoDataSourcesText =
    "Could not find any defined databases (DSN)\nThese are usually added with the \"32bit ODBC\" "
    "Control Panel";
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

std::string linkRowText(const LinkRow& row) {
    if (!row.linked()) return "\t\t" + row.column;
    return std::string(VariableTable[row.variable]) + "\t->\t" + row.column;
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
    OdbcCatalog catalog(m_logging.op());
    if (!catalog.prepare()) {
        cancel();
        return false;
    }
    m_dataSources = catalog.dataSources();
    m_tables.clear();
    m_variables.clear();
    m_rows.clear();
    m_selectedDataSource = m_selectedTable = m_selectedVariable = m_selectedRow = -1;
    m_kludgeFlags = 0;
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
    m_selectedTable = m_selectedRow = -1;
    disableAll();
    m_linkedCount = 0;
    m_selectedDataSource = (index >= 0 && index < static_cast<int>(m_dataSources.size())) ? index : -1;
    if (m_selectedDataSource < 0) return;

    OdbcCatalog catalog(m_logging.op());
    catalog.setWaitHook(m_waitHook);
    if (!catalog.connect(m_dataSources[m_selectedDataSource], m_user, m_password)) return;
    const DataSourceTraits traits = catalog.traits();
    m_kludgeFlags = traits.dbmsName.find(kBracketDbmsMarker) != std::string::npos ? kKludgeBrackets : 0;
    m_identifierQuote = traits.identifierQuote;
    m_identifierCase = traits.identifierCase;
    std::optional<std::vector<std::string>> tables = catalog.tables();
    if (!tables) return;
    m_tables = std::move(*tables);
    sortNames(m_tables);
    m_addTableEnabled = true;
}

void DatabaseLinkDialog::selectTable(int index) {
    m_rows.clear();
    m_selectedRow = -1;
    m_okEnabled = m_addColumnEnabled = m_linkEnabled = m_unlinkEnabled = false;
    m_linkedCount = 0;
    m_selectedTable = (index >= 0 && index < static_cast<int>(m_tables.size())) ? index : -1;
    if (m_selectedDataSource < 0 || m_selectedTable < 0) return;

    OdbcCatalog catalog(m_logging.op());
    catalog.setWaitHook(m_waitHook);
    if (!catalog.connect(m_dataSources[m_selectedDataSource], m_user, m_password)) return;
    const std::optional<std::vector<CatalogColumn>> columns = catalog.columns(m_tables[m_selectedTable]);
    if (!columns) return;
    for (const CatalogColumn& column : *columns) {
        LinkRow row{column.name, column.sqlType, -1};
        for (int v = 0; v < kVariableCount; ++v) {
            if (isLinkable(v, column.sqlType) && namesMatch(VariableTable[v], column.name)) {
                row.variable = v;
                ++m_linkedCount;
                break;
            }
        }
        m_rows.push_back(std::move(row));
    }
    m_addColumnEnabled = true;
    m_okEnabled = m_linkedCount > 0;
}

bool DatabaseLinkDialog::rowSelectionValid() const {
    return m_selectedRow >= 0 && m_selectedRow < static_cast<int>(m_rows.size());
}

void DatabaseLinkDialog::updateLinkButton() {
    m_linkEnabled = rowSelectionValid() && m_selectedVariable >= 0 &&
                    isLinkable(m_selectedVariable, m_rows[m_selectedRow].sqlType);
}

void DatabaseLinkDialog::updateButtonsForRow() {
    m_unlinkEnabled = rowSelectionValid() && m_rows[m_selectedRow].linked();
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
    if (!rowSelectionValid() || m_selectedVariable < 0 || !isLinkable(m_selectedVariable, m_rows[m_selectedRow].sqlType))
        return;
    LinkRow& row = m_rows[m_selectedRow];
    if (!row.linked()) ++m_linkedCount;
    row.variable = m_selectedVariable;
    updateButtonsForRow();
}

void DatabaseLinkDialog::unlink() {
    if (rowSelectionValid()) {
        LinkRow& row = m_rows[m_selectedRow];
        if (row.linked()) {
            row.variable = -1;
            --m_linkedCount;
        }
    }
    updateButtonsForRow();
}

void DatabaseLinkDialog::addTable(const std::string& name, TableColumns columns) {
    if (m_selectedDataSource < 0) return;
    if (createDatabaseTable(m_dataSources[m_selectedDataSource], m_user, m_password, name, columns, m_logging.op(),
                            m_waitHook))
        refreshTables();
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
    for (const LinkRow& row : m_rows) {
        if (!row.linked()) continue;
        settings.links.push_back(ColumnLink{row.variable, row.sqlType,
                                            nameInStatement(row.column, m_kludgeFlags, m_identifierQuote, m_identifierCase)});
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
