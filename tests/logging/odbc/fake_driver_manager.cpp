// A scripted stand-in for the ODBC driver manager, for the cases a real driver cannot produce:
// a library that lacks an entry point, an environment that cannot be allocated, a chosen SQLSTATE
// or return code from SQLConnect, and a DBMS that wants bracketed names. Built twice: complete,
// and without SQLSetStmtOption (FAKE_ODBC_INCOMPLETE). Tests steer it through the fakeOdbc*
// functions and read back the statements it was given.

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Cell {
    std::string text;
    SQLSMALLINT number = 0;
};
using Row = std::vector<Cell>;

struct Binding {
    SQLSMALLINT cType = 0;
    SQLPOINTER target = nullptr;
    SQLLEN capacity = 0;
    SQLLEN* indicator = nullptr;
};

struct State {
    bool failAllocEnv = false;
    SQLRETURN connectResult = SQL_SUCCESS;
    std::string connectState = "00000";
    SQLRETURN execResult = SQL_SUCCESS;
    std::string dbmsName = "Fake DBMS";
    std::vector<std::string> dataSources{"FakeSource"};
    std::vector<std::string> tables{"Readings"};
    std::vector<Row> columns;  // name, type
    std::vector<std::string> statements;
    std::string lastDsn, lastUser, lastPassword;
    std::vector<Row> result;
    std::size_t next = 0;
    Binding bindings[8];
    std::size_t dataSourceIndex = 0;
    int openConnections = 0;
    int openStatements = 0;
};

State g;
int g_handle;  // handles are addresses inside this object; only their identity matters

SQLHANDLE handle() { return &g_handle; }

void copyText(const std::string& text, SQLCHAR* target, SQLSMALLINT capacity, SQLSMALLINT* length) {
    if (length) *length = static_cast<SQLSMALLINT>(text.size());
    if (!target || capacity <= 0) return;
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void fakeOdbcReset() { g = State{}; }
__attribute__((visibility("default"))) void fakeOdbcFailAllocEnv(int fail) { g.failAllocEnv = fail != 0; }
__attribute__((visibility("default"))) void fakeOdbcSetConnect(int rc, const char* sqlState) {
    g.connectResult = static_cast<SQLRETURN>(rc);
    g.connectState = sqlState;
}
__attribute__((visibility("default"))) void fakeOdbcSetExecResult(int rc) { g.execResult = static_cast<SQLRETURN>(rc); }
__attribute__((visibility("default"))) void fakeOdbcSetDbmsName(const char* name) { g.dbmsName = name; }
__attribute__((visibility("default"))) void fakeOdbcAddColumn(const char* name, int type) {
    g.columns.push_back({Cell{name, 0}, Cell{"", static_cast<SQLSMALLINT>(type)}});
}
__attribute__((visibility("default"))) int fakeOdbcStatementCount() { return static_cast<int>(g.statements.size()); }
__attribute__((visibility("default"))) const char* fakeOdbcStatement(int i) { return g.statements.at(i).c_str(); }
__attribute__((visibility("default"))) const char* fakeOdbcLastPassword() { return g.lastPassword.c_str(); }
__attribute__((visibility("default"))) int fakeOdbcOpenHandles() { return g.openConnections + g.openStatements; }

SQLRETURN SQL_API SQLDataSources(SQLHENV, SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT nameCapacity,
                                 SQLSMALLINT* nameLength, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*) {
    if (direction == SQL_FETCH_FIRST) g.dataSourceIndex = 0;
    if (g.dataSourceIndex >= g.dataSources.size()) return SQL_NO_DATA;
    copyText(g.dataSources[g.dataSourceIndex++], name, nameCapacity, nameLength);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* environment) {
    if (g.failAllocEnv) return SQL_ERROR;
    *environment = handle();
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV, SQLHDBC* connection) {
    ++g.openConnections;
    *connection = handle();
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC) {
    --g.openConnections;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLConnect(SQLHDBC, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user, SQLSMALLINT userLength,
                             SQLCHAR* password, SQLSMALLINT passwordLength) {
    g.lastDsn.assign(reinterpret_cast<char*>(dsn), static_cast<std::size_t>(dsnLength));
    g.lastUser.assign(reinterpret_cast<char*>(user), static_cast<std::size_t>(userLength));
    g.lastPassword.assign(reinterpret_cast<char*>(password), static_cast<std::size_t>(passwordLength));
    return g.connectResult;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC, SQLHSTMT* statement) {
    ++g.openStatements;
    *statement = handle();
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT, SQLUSMALLINT option) {
    if (option == SQL_DROP) --g.openStatements;
    if (option == SQL_UNBIND || option == SQL_DROP)
        for (Binding& b : g.bindings) b = Binding{};
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN capacity,
                             SQLLEN* indicator) {
    if (column == 0 || column >= 8) return SQL_ERROR;
    g.bindings[column] = Binding{cType, target, capacity, indicator};
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT) {
    if (g.next >= g.result.size()) return SQL_NO_DATA;
    const Row& row = g.result[g.next++];
    for (std::size_t c = 1; c <= row.size() && c < 8; ++c) {
        const Binding& b = g.bindings[c];
        if (!b.target) continue;
        if (b.cType == SQL_C_CHAR) {
            SQLSMALLINT length = 0;
            copyText(row[c - 1].text, static_cast<SQLCHAR*>(b.target), static_cast<SQLSMALLINT>(b.capacity), &length);
            if (b.indicator) *b.indicator = length;
        } else {
            *static_cast<SQLSMALLINT*>(b.target) = row[c - 1].number;
            if (b.indicator) *b.indicator = sizeof(SQLSMALLINT);
        }
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLTables(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                            SQLSMALLINT) {
    g.result.clear();
    g.next = 0;
    for (const std::string& t : g.tables) g.result.push_back({Cell{}, Cell{}, Cell{t, 0}});
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                             SQLSMALLINT) {
    g.result.clear();
    g.next = 0;
    for (const Row& c : g.columns) g.result.push_back({Cell{}, Cell{}, Cell{}, c[0], c[1]});
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT, SQLSMALLINT) {
    g.result = {{Cell{"INTEGER", 0}, Cell{"", SQL_INTEGER}},
                {Cell{"FLOAT", 0}, Cell{"", SQL_FLOAT}},
                {Cell{"VARCHAR", 0}, Cell{"", SQL_VARCHAR}},
                {Cell{"DATETIME", 0}, Cell{"", SQL_TIMESTAMP}}};
    g.next = 0;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length) {
    if (type != SQL_DBMS_NAME) return SQL_ERROR;
    copyText(g.dbmsName, static_cast<SQLCHAR*>(value), capacity, length);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT, SQLCHAR* text, SQLINTEGER length) {
    g.statements.emplace_back(reinterpret_cast<char*>(text), static_cast<std::size_t>(length));
    return g.execResult;
}

#ifndef FAKE_ODBC_INCOMPLETE
SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT, SQLUSMALLINT, SQLULEN) { return SQL_SUCCESS; }
#endif

SQLRETURN SQL_API SQLError(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR* sqlState, SQLINTEGER* nativeError, SQLCHAR* message,
                           SQLSMALLINT capacity, SQLSMALLINT* length) {
    copyText(g.connectState, sqlState, 6, nullptr);
    if (nativeError) *nativeError = 0;
    copyText("[Fake] scripted failure", message, capacity, length);
    return SQL_SUCCESS;
}

}  // extern "C"
