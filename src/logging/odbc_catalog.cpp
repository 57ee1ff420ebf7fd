#include "logging/odbc_catalog.h"

#include <cstring>
#include <future>

#include "logging/odbc_library.h"

namespace quorna {
namespace {

// Data source names are taken up to this many characters.
constexpr int kDataSourceNameCapacity = 32;
// Catalog result columns are bound with this many bytes.
constexpr int kCatalogNameBytes = 128;
constexpr int kDbmsNameBytes = 256;
constexpr int kTypeNameBytes = 128;

// Result columns of SQLTables, SQLColumns and SQLGetTypeInfo.
constexpr SQLUSMALLINT kTablesTableNameColumn = 3;
constexpr SQLUSMALLINT kColumnsColumnNameColumn = 4;
constexpr SQLUSMALLINT kColumnsDataTypeColumn = 5;
constexpr SQLUSMALLINT kTypeNameColumn = 1;
constexpr SQLUSMALLINT kDataTypeColumn = 2;

constexpr const char* kTableListText = "Can't read this database's table list";
constexpr const char* kColumnListText = "Can't read this table's column list";
constexpr const char* kTypeInfoText = "Error reading this database's type information";

SQLCHAR* sqlText(const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); }

std::string boundText(const SQLCHAR* buffer, SQLLEN indicator) {
    if (indicator == SQL_NULL_DATA) return {};
    return std::string(reinterpret_cast<const char*>(buffer));
}

// Keeps what a call on the catalog's thread would tell the operator, for the calling thread to
// tell once the call is done: the operator is only ever told from the thread that owns it.
class HeldNotices final : public Operator {
public:
    void notify(const Notice& notice) override { m_notices.push_back(notice); }
    void tellTo(Operator& op) const {
        for (const Notice& notice : m_notices) op.notify(notice);
    }

private:
    std::vector<Notice> m_notices;
};

}  // namespace

template <typename Call>
auto OdbcCatalog::awaitCall(Call call) {
    HeldNotices held;
    auto done = std::async(std::launch::async, [&call, &held] { return call(static_cast<Operator&>(held)); });
    // A call the data source answers within the first interval shows no wait cursor.
    if (m_waitHook && done.wait_for(kCatalogWaitHookInterval) != std::future_status::ready) {
        const WaitCursor cursor(m_op);
        do {
            m_waitHook();
        } while (done.wait_for(kCatalogWaitHookInterval) != std::future_status::ready);
    }
    auto result = done.get();
    held.tellTo(m_op);
    return result;
}

OdbcCatalog::OdbcCatalog(Operator& op) : m_op(op) {}
OdbcCatalog::~OdbcCatalog() = default;

bool OdbcCatalog::prepare() {
    if (odbcLibrary().handle == nullptr) {
        const int result = loadOdbcLibrary();
        if (result != kOdbcLoaded) {
            m_op.error(result == kOdbcLibraryMissing ? kOdbcLibraryMissingText : kOdbcFunctionsMissingText);
            return false;
        }
    }
    if (!ensureOdbcEnvironment()) {
        m_op.error(kOdbcEnvironmentText);
        return false;
    }
    return true;
}

std::vector<std::string> OdbcCatalog::dataSources() {
    OdbcLibrary& lib = odbcLibrary();
    std::vector<std::string> names;
    SQLCHAR name[kDataSourceNameCapacity + 1];
    SQLCHAR description[kOdbcMessageCapacity];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT descriptionLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
        std::memset(name, 0, sizeof name);
        if (!odbcSucceeded(lib.SQLDataSources(lib.environment, direction, name, sizeof name, &nameLength, description,
                                              sizeof description, &descriptionLength)))
            break;
        names.emplace_back(reinterpret_cast<const char*>(name));
    }
    return names;
}

bool OdbcCatalog::connect(const std::string& dsn, const std::string& user, const std::string& password) {
    return awaitCall([this, &dsn, &user, &password](Operator& op) {
        m_session.reset();  // the session before, closed
        auto session = std::make_unique<OdbcSession>();
        if (!openSession(*session, dsn, user, password, op, kSetupSessionTexts)) return false;
        m_session = std::move(session);
        return true;
    });
}

DataSourceTraits OdbcCatalog::traits() {
    if (!m_session) return DataSourceTraits{};
    return awaitCall([this](Operator&) -> DataSourceTraits {
        DataSourceTraits traits;
        OdbcLibrary& lib = odbcLibrary();
        SQLCHAR dbmsName[kDbmsNameBytes] = {};
        SQLSMALLINT dbmsLength = 0;
        if (!odbcSucceeded(lib.SQLGetInfo(m_session->connection(), SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &dbmsLength)))
            dbmsName[0] = '\0';
        dbmsName[sizeof dbmsName - 1] = '\0';
        traits.dbmsName = reinterpret_cast<const char*>(dbmsName);
        SQLCHAR quote[8] = {};
        SQLSMALLINT quoteLength = 0;
        if (!odbcSucceeded(lib.SQLGetInfo(m_session->connection(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote,
                                          &quoteLength)))
            quote[0] = '\0';
        quote[sizeof quote - 1] = '\0';
        traits.identifierQuote = reinterpret_cast<const char*>(quote);
        if (traits.identifierQuote == " ") traits.identifierQuote.clear();
        SQLUSMALLINT identifierCase = 0;
        if (!odbcSucceeded(lib.SQLGetInfo(m_session->connection(), SQL_IDENTIFIER_CASE, &identifierCase,
                                          sizeof identifierCase, nullptr)))
            identifierCase = 0;
        traits.identifierCase = identifierCase;
        return traits;
    });
}

std::optional<std::vector<std::string>> OdbcCatalog::tables() {
    if (!m_session) return std::nullopt;
    return awaitCall([this](Operator& op) -> std::optional<std::vector<std::string>> {
        OdbcLibrary& lib = odbcLibrary();
        const SQLHSTMT statement = m_session->statement();
        if (!odbcSucceeded(lib.SQLTables(statement, nullptr, 0, nullptr, 0, sqlText("%"), SQL_NTS, sqlText("'TABLE'"),
                                         SQL_NTS))) {
            op.error(kTableListText);
            return std::nullopt;
        }
        SQLCHAR tableName[kCatalogNameBytes] = {};
        SQLLEN tableIndicator = 0;
        if (!odbcSucceeded(lib.SQLBindCol(statement, kTablesTableNameColumn, SQL_C_CHAR, tableName, sizeof tableName,
                                          &tableIndicator))) {
            op.error(kOdbcBindColumnText);
            return std::nullopt;
        }
        std::vector<std::string> names;
        while (odbcSucceeded(lib.SQLFetch(statement))) names.push_back(boundText(tableName, tableIndicator));
        (void)lib.SQLFreeStmt(statement, SQL_UNBIND);
        (void)lib.SQLFreeStmt(statement, SQL_CLOSE);
        return names;
    });
}

std::optional<std::vector<CatalogColumn>> OdbcCatalog::columns(const std::string& table) {
    if (!m_session) return std::nullopt;
    return awaitCall([this, &table](Operator& op) -> std::optional<std::vector<CatalogColumn>> {
        OdbcLibrary& lib = odbcLibrary();
        const SQLHSTMT statement = m_session->statement();
        if (!odbcSucceeded(lib.SQLColumns(statement, nullptr, 0, nullptr, 0, sqlText(table.c_str()), SQL_NTS, sqlText("%"),
                                          SQL_NTS))) {
            op.error(kColumnListText);
            return std::nullopt;
        }
        SQLCHAR columnName[kCatalogNameBytes] = {};
        SQLLEN nameIndicator = 0;
        SQLSMALLINT dataType = 0;
        SQLLEN typeIndicator = 0;
        if (!odbcSucceeded(lib.SQLBindCol(statement, kColumnsColumnNameColumn, SQL_C_CHAR, columnName, sizeof columnName,
                                          &nameIndicator)) ||
            !odbcSucceeded(lib.SQLBindCol(statement, kColumnsDataTypeColumn, SQL_C_SSHORT, &dataType, 0, &typeIndicator))) {
            op.error(kOdbcBindColumnText);
            return std::nullopt;
        }
        std::vector<CatalogColumn> found;
        while (odbcSucceeded(lib.SQLFetch(statement)))
            found.push_back(CatalogColumn{boundText(columnName, nameIndicator),
                                          static_cast<std::int16_t>(typeIndicator == SQL_NULL_DATA ? 0 : dataType)});
        (void)lib.SQLFreeStmt(statement, SQL_UNBIND);
        (void)lib.SQLFreeStmt(statement, SQL_CLOSE);
        return found;
    });
}

std::optional<std::vector<SqlTypeName>> OdbcCatalog::typeNames() {
    if (!m_session) return std::nullopt;
    return awaitCall([this](Operator& op) -> std::optional<std::vector<SqlTypeName>> {
        OdbcLibrary& lib = odbcLibrary();
        const SQLHSTMT statement = m_session->statement();
        if (!odbcSucceeded(lib.SQLGetTypeInfo(statement, SQL_ALL_TYPES))) {
            op.error(kTypeInfoText);
            return std::nullopt;
        }
        SQLCHAR typeName[kTypeNameBytes] = {};
        SQLLEN nameIndicator = 0;
        SQLSMALLINT dataType = 0;
        SQLLEN typeIndicator = 0;
        if (!odbcSucceeded(
                lib.SQLBindCol(statement, kTypeNameColumn, SQL_C_CHAR, typeName, sizeof typeName, &nameIndicator)) ||
            !odbcSucceeded(lib.SQLBindCol(statement, kDataTypeColumn, SQL_C_SSHORT, &dataType, 0, &typeIndicator))) {
            op.error(kOdbcBindColumnText);
            return std::nullopt;
        }
        std::vector<SqlTypeName> rows;
        while (odbcSucceeded(lib.SQLFetch(statement))) {
            if (nameIndicator == SQL_NULL_DATA || typeIndicator == SQL_NULL_DATA) continue;
            rows.push_back(SqlTypeName{reinterpret_cast<const char*>(typeName), dataType});
        }
        (void)lib.SQLFreeStmt(statement, SQL_UNBIND);
        (void)lib.SQLFreeStmt(statement, SQL_CLOSE);
        return rows;
    });
}

bool OdbcCatalog::execute(std::string statement) {
    if (!m_session) return false;
    return awaitCall([this, &statement](Operator& op) -> bool {
        OdbcLibrary& lib = odbcLibrary();
        const SQLRETURN rc = lib.SQLExecDirect(m_session->statement(), reinterpret_cast<SQLCHAR*>(statement.data()),
                                               static_cast<SQLINTEGER>(statement.size()));
        if (odbcSucceeded(rc)) return true;
        op.error(statementErrorText(rc, m_session->connection(), m_session->statement()));
        return false;
    });
}

}  // namespace quorna
