#include "logging/odbc_library.h"

#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quorna {
namespace {

// The one binding of the process, shared by every station in it: the driver manager is loaded
// once per process whatever asks for it (dlopen hands back the same library), and ODBC keeps one
// environment for the whole process.
struct OdbcBinding {
    OdbcLibrary library;
    void* installerLibrary = nullptr;
    std::vector<std::string> libraryNames;  // empty: the default list
};
OdbcBinding g_odbc;

// The driver manager's names: the versioned name of the run-time package first, then the
// development link that is present only with the headers installed.
constexpr std::array<const char*, 2> kDefaultLibraryNames{"libodbc.so.2", "libodbc.so"};
// unixODBC's installer library. Drivers link it and the driver manager unloads a driver after its
// last connection; if the installer library went with it, the ini-file state it allocates would be
// lost with every connection (about 1.5 KB each, once per logging moment). Kept loaded instead.
constexpr const char* kInstallerLibraryName = "libodbcinst.so.2";

template <typename Function>
bool resolve(void* handle, const char* name, Function& entry) {
    entry = reinterpret_cast<Function>(dlsym(handle, name));
    return entry != nullptr;
}

// Resolves the entry points in their fixed order; false at the first missing one.
bool resolveAll(void* handle, OdbcLibrary& lib) {
    return resolve(handle, "SQLDataSources", lib.SQLDataSources) &&
           resolve(handle, "SQLAllocEnv", lib.SQLAllocEnv) &&
           resolve(handle, "SQLFreeConnect", lib.SQLFreeConnect) &&
           resolve(handle, "SQLDisconnect", lib.SQLDisconnect) &&
           resolve(handle, "SQLFreeStmt", lib.SQLFreeStmt) &&
           resolve(handle, "SQLFetch", lib.SQLFetch) &&
           resolve(handle, "SQLBindCol", lib.SQLBindCol) &&
           resolve(handle, "SQLTables", lib.SQLTables) &&
           resolve(handle, "SQLAllocStmt", lib.SQLAllocStmt) &&
           resolve(handle, "SQLConnect", lib.SQLConnect) &&
           resolve(handle, "SQLAllocConnect", lib.SQLAllocConnect) &&
           resolve(handle, "SQLColumns", lib.SQLColumns) &&
           resolve(handle, "SQLGetInfo", lib.SQLGetInfo) &&
           resolve(handle, "SQLExecDirect", lib.SQLExecDirect) &&
           resolve(handle, "SQLSetStmtOption", lib.SQLSetStmtOption) &&
           resolve(handle, "SQLError", lib.SQLError) &&
           resolve(handle, "SQLGetTypeInfo", lib.SQLGetTypeInfo);
}

struct ConnectFailureText {
    const char* sqlState;
    const char* text;
};

constexpr const char* kUnknownReasonText = "Can't connect to this database, Unknown reason";
constexpr const char* kInvalidHandleText =
    "Can't connect to this database, ODBC environment handle is invalid... possibly a bug?";

constexpr std::array<ConnectFailureText, 15> kConnectFailureTexts{{
    {"08001", "Can't connect to this database, Unable to make a connection to the data source"},
    {"08002", "Can't connect to this database, Connection is in use"},
    {"08004", "Can't connect to this database, Data source rejected the connection"},
    {"08S01", "Can't connect to this database, Communication link failure"},
    {"28000", "Can't connect to this database, Invalid Username and/or Password"},
    {"IM001", "Can't connect to this database, This driver does not support connections (so what "
              "good is that?)"},
    {"IM002", "Can't connect to this database, Data source not found, no default is available"},
    {"IM003", "Can't connect to this database, Could not load the database's ODBC driver"},
    {"IM004", "Can't connect to this database, The Database driver couldn't allocate an environment"},
    {"IM005", "Can't connect to this database, The Database driver couldn't allocate a connection"},
    {"IM009", "Can't connect to this database, Unable to load a translation DLL"},
    {"S1000", "Can't connect to this database, \"General Error\".\nIs this DSN configured correctly "
              "for the database it is supposed to access?\nDSN's are typically configured for a "
              "particular database with the \"32-bit ODBC\" Control Panel"},
    {"S1001", "Can't connect to this database, Unable to allocate memory"},
    {"S1090", "Can't connect to this database, Invalid database name, user name and/or password"},
    {"S1T00", "Can't connect to this database, Time-out waiting for connection (no response from "
              "database)"},
}};

SQLCHAR* text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.data()));
}

}  // namespace

OdbcLibrary& odbcLibrary() { return g_odbc.library; }

std::vector<std::string> odbcLibraryNames() {
    if (!g_odbc.libraryNames.empty()) return g_odbc.libraryNames;
    if (const char* name = std::getenv("QUORNA_ODBC_LIBRARY"); name != nullptr && *name != '\0')
        return {name};
    return {kDefaultLibraryNames.begin(), kDefaultLibraryNames.end()};
}

void setOdbcLibraryNames(std::vector<std::string> names) { g_odbc.libraryNames = std::move(names); }

int loadOdbcLibrary() {
    OdbcLibrary& lib = g_odbc.library;
    if (lib.handle == nullptr) {
        for (const std::string& name : odbcLibraryNames()) {
            lib.handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (lib.handle != nullptr) break;
        }
        if (lib.handle == nullptr) return kOdbcLibraryMissing;
    }
    if (!resolveAll(lib.handle, lib)) {
        dlclose(lib.handle);
        lib = OdbcLibrary{};
        return kOdbcFunctionsMissing;
    }
    (void)resolve(lib.handle, "SQLSetConnectOption", lib.SQLSetConnectOption);
    (void)resolve(lib.handle, "SQLTransact", lib.SQLTransact);
    if (g_odbc.installerLibrary == nullptr) g_odbc.installerLibrary = dlopen(kInstallerLibraryName, RTLD_NOW | RTLD_LOCAL);
    return kOdbcLoaded;
}

bool ensureOdbcEnvironment() {
    OdbcLibrary& lib = g_odbc.library;
    if (lib.environment != SQL_NULL_HENV) return true;
    SQLHENV environment = SQL_NULL_HENV;
    if (!odbcSucceeded(lib.SQLAllocEnv(&environment))) return false;
    lib.environment = environment;
    return true;
}

namespace {

// The driver's SQLSTATE and message text for the last failure on the handles given.
struct ErrorRecord {
    std::string state;
    std::string message;
    long nativeError = 0;
};

ErrorRecord lastError(SQLHDBC connection, SQLHSTMT statement) {
    OdbcLibrary& lib = g_odbc.library;
    SQLCHAR sqlState[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR message[kOdbcMessageCapacity] = {};
    SQLSMALLINT messageLength = 0;
    (void)lib.SQLError(lib.environment, connection, statement, sqlState, &nativeError, message, sizeof message,
                       &messageLength);
    message[sizeof message - 1] = '\0';
    return {std::string(reinterpret_cast<const char*>(sqlState), strnlen(reinterpret_cast<const char*>(sqlState), 5)),
            reinterpret_cast<const char*>(message), static_cast<long>(nativeError)};
}

}  // namespace

std::string describeConnectFailure(SQLHDBC connection, SQLRETURN connectResult) {
    const std::string state = lastError(connection, SQL_NULL_HSTMT).state;
    if (connectResult == SQL_INVALID_HANDLE) return kInvalidHandleText;
    if (connectResult != SQL_ERROR) return kUnknownReasonText;
    for (const ConnectFailureText& entry : kConnectFailureTexts)
        if (state == entry.sqlState) return entry.text;
    return kUnknownReasonText;
}

StatementError statementError(SQLRETURN failedResult, SQLHDBC connection, SQLHSTMT statement) {
    const ErrorRecord error = lastError(connection, statement);
    char line[kOdbcMessageCapacity + 32];
    std::snprintf(line, sizeof line, "Error # %d  %s", static_cast<int>(failedResult), error.message.c_str());
    return {error.state, line, error.nativeError};
}

std::string statementErrorText(SQLRETURN failedResult, SQLHDBC connection, SQLHSTMT statement) {
    return statementError(failedResult, connection, statement).text;
}

OdbcSession::~OdbcSession() {
    OdbcLibrary& lib = g_odbc.library;
    if (lib.handle == nullptr) return;  // the handles went with the library (a test that started over)
    if (m_statement != SQL_NULL_HSTMT) (void)lib.SQLFreeStmt(m_statement, SQL_DROP);
    if (m_connected) (void)lib.SQLDisconnect(m_connection);
    if (m_connection != SQL_NULL_HDBC) (void)lib.SQLFreeConnect(m_connection);
}

bool OdbcSession::allocConnect() {
    OdbcLibrary& lib = g_odbc.library;
    SQLHDBC connection = SQL_NULL_HDBC;
    if (!odbcSucceeded(lib.SQLAllocConnect(lib.environment, &connection))) return false;
    m_connection = connection;
    return true;
}

SQLRETURN OdbcSession::connect(const std::string& dsn, const std::string& user,
                               const std::string& password) {
    OdbcLibrary& lib = g_odbc.library;
    // A driver that cannot bound the login says so here; the connection is tried all the same.
    if (lib.SQLSetConnectOption != nullptr)
        (void)lib.SQLSetConnectOption(m_connection, SQL_LOGIN_TIMEOUT, kOdbcLoginTimeoutSeconds);
    const SQLRETURN rc = lib.SQLConnect(
        m_connection, text(dsn), static_cast<SQLSMALLINT>(dsn.size()), text(user),
        static_cast<SQLSMALLINT>(user.size()), text(password), static_cast<SQLSMALLINT>(password.size()));
    m_connected = odbcSucceeded(rc);
    return rc;
}

bool OdbcSession::allocStmt() {
    SQLHSTMT statement = SQL_NULL_HSTMT;
    OdbcLibrary& lib = g_odbc.library;
    if (!odbcSucceeded(lib.SQLAllocStmt(m_connection, &statement))) return false;
    m_statement = statement;
    // A driver without query time-outs refuses the option; its statements run as before.
    (void)lib.SQLSetStmtOption(m_statement, SQL_QUERY_TIMEOUT, kOdbcQueryTimeoutSeconds);
    return true;
}

bool openSession(OdbcSession& session, const std::string& dsn, const std::string& user, const std::string& password,
                 Operator& op, const SessionFailureTexts& texts) {
    if (!session.allocConnect()) {
        op.error(texts.allocConnection);
        return false;
    }
    const SQLRETURN rc = session.connect(dsn, user, password);
    if (!odbcSucceeded(rc)) {
        op.error(texts.connect != nullptr ? texts.connect : describeConnectFailure(session.connection(), rc));
        return false;
    }
    if (!session.allocStmt()) {
        op.error(texts.allocStatement);
        return false;
    }
    return true;
}

void resetOdbcLibraryForTests() {
    OdbcLibrary& lib = g_odbc.library;
    if (lib.handle != nullptr) {
        // The program never frees its environment; a test that starts over does, so that nothing
        // the driver manager allocated is left behind when it is unloaded.
        using FreeEnv = SQLRETURN (*)(SQLHENV);
        if (lib.environment != SQL_NULL_HENV) {
            if (auto freeEnv = reinterpret_cast<FreeEnv>(dlsym(lib.handle, "SQLFreeEnv")))
                (void)freeEnv(lib.environment);
        }
        dlclose(lib.handle);
    }
    lib = OdbcLibrary{};
    g_odbc.libraryNames.clear();
    if (g_odbc.installerLibrary != nullptr) dlclose(g_odbc.installerLibrary);
    g_odbc.installerLibrary = nullptr;
}

}  // namespace quorna
