#pragma once
// The run-time binding to the ODBC driver manager: the library is loaded by name the first time
// database work is needed and called through a table of 17 entry points (the ODBC 2 call-level
// interface). The program never links against the driver manager, so a machine without ODBC
// still runs everything but the database log.

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "core/operator.h"

namespace quorna {

// Results of loadOdbcLibrary.
inline constexpr int kOdbcLoaded = 0;
inline constexpr int kOdbcLibraryMissing = 1;
inline constexpr int kOdbcFunctionsMissing = 2;

// What the link dialog shows for a failed load (results 1 and 2).
inline constexpr const char* kOdbcLibraryMissingText =
    "Couldn't load ODBC32.DLL.  This usually means that ODBC (required to access databases) is not "
    "installed\nODBC is usually supplied with database software, such as MS Access, SQL Server, "
    "Oracle, etc.";
inline constexpr const char* kOdbcFunctionsMissingText = "Couldn't find all required functions within DLL";
inline constexpr const char* kOdbcEnvironmentText = "Couldn't allocate the ODBC environment";
// What the setup windows say when a connection step or a catalog result fails.
inline constexpr const char* kOdbcAllocConnectionText = "Couldn't allocate an ODBC connection";
inline constexpr const char* kOdbcAllocStatementText = "Couldn't allocate an ODBC statement";
inline constexpr const char* kOdbcBindColumnText =
    "Trouble using data returned from database\nCouldn't bind to a column with \"SQLBindCol()\"";

// A database server that accepts the connection and then says nothing must not hold the program:
// every connection gives up after the login time-out, every statement after the query time-out.
// (The PostgreSQL driver hands the login time-out to its client library as its connect time-out,
// which covers the wait for the server's first answer as well.)
inline constexpr SQLULEN kOdbcLoginTimeoutSeconds = 5;
inline constexpr SQLULEN kOdbcQueryTimeoutSeconds = 5;

// Length of the message text asked of SQLError.
inline constexpr int kOdbcMessageCapacity = 256;

struct OdbcLibrary {
    void* handle = nullptr;  // the loaded driver manager; empty until loaded
    // The entry points, in the order they are resolved; meaningful only while handle is set.
    decltype(&::SQLDataSources) SQLDataSources = nullptr;
    decltype(&::SQLAllocEnv) SQLAllocEnv = nullptr;
    decltype(&::SQLFreeConnect) SQLFreeConnect = nullptr;
    decltype(&::SQLDisconnect) SQLDisconnect = nullptr;
    decltype(&::SQLFreeStmt) SQLFreeStmt = nullptr;
    decltype(&::SQLFetch) SQLFetch = nullptr;
    decltype(&::SQLBindCol) SQLBindCol = nullptr;
    decltype(&::SQLTables) SQLTables = nullptr;
    decltype(&::SQLAllocStmt) SQLAllocStmt = nullptr;
    decltype(&::SQLConnect) SQLConnect = nullptr;
    decltype(&::SQLAllocConnect) SQLAllocConnect = nullptr;
    decltype(&::SQLColumns) SQLColumns = nullptr;
    decltype(&::SQLGetInfo) SQLGetInfo = nullptr;
    decltype(&::SQLExecDirect) SQLExecDirect = nullptr;
    decltype(&::SQLSetStmtOption) SQLSetStmtOption = nullptr;  // must be present: every statement's query time-out
    decltype(&::SQLError) SQLError = nullptr;
    decltype(&::SQLGetTypeInfo) SQLGetTypeInfo = nullptr;
    // Used when present: the login time-out of every connection and the writer's transactions
    // (without them every statement commits).
    decltype(&::SQLSetConnectOption) SQLSetConnectOption = nullptr;
    decltype(&::SQLTransact) SQLTransact = nullptr;
    // The one environment of the process: allocated once, never freed.
    SQLHENV environment = SQL_NULL_HENV;
};

OdbcLibrary& odbcLibrary();

// Loads the driver manager and resolves all 17 entry points. Returns kOdbcLoaded,
// kOdbcLibraryMissing (no library could be loaded) or kOdbcFunctionsMissing (one or more entry
// points missing: the library is unloaded again). Call only while the library is not loaded.
[[nodiscard]] int loadOdbcLibrary();

// Allocates the process's environment if there is none yet; false when SQLAllocEnv fails.
// The library must be loaded.
[[nodiscard]] bool ensureOdbcEnvironment();

// The library names tried in order: unixODBC's driver manager, unless the environment variable
// QUORNA_ODBC_LIBRARY names another library, or a test replaced the list.
std::vector<std::string> odbcLibraryNames();
void setOdbcLibraryNames(std::vector<std::string> names);  // empty: back to the default

// Every ODBC call counts as successful when it returns SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
[[nodiscard]] inline bool odbcSucceeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// The operator's text for a failed SQLConnect on the connection, from the SQLSTATE that
// SQLError reports for it.
std::string describeConnectFailure(SQLHDBC connection, SQLRETURN connectResult);

// The driver's message after a failed statement: "Error # %d  %s" with the failing call's
// return code and the first message SQLError gives for the environment, connection and statement.
std::string statementErrorText(SQLRETURN failedResult, SQLHDBC connection, SQLHSTMT statement);
// The same text with the SQLSTATE it came with (SQLError hands each message out once).
struct StatementError {
    std::string state;
    std::string text;
    long nativeError = 0;  // the database's own code
};
StatementError statementError(SQLRETURN failedResult, SQLHDBC connection, SQLHSTMT statement);

// One connection to a data source with one statement on it, following the pattern every database
// operation uses: allocate the connection, connect with explicit lengths, allocate the statement.
// The destructor releases what was obtained, in the order statement (SQL_DROP), disconnect,
// connection. Nothing stays open between operations, but the database writer's session, which
// lasts from slice to slice of a backlog.
class OdbcSession {
public:
    OdbcSession() = default;
    ~OdbcSession();
    OdbcSession(const OdbcSession&) = delete;
    OdbcSession& operator=(const OdbcSession&) = delete;

    [[nodiscard]] bool allocConnect();
    // The return code of SQLConnect (texts passed with their lengths; empty ones with length 0),
    // asked with the login time-out.
    [[nodiscard]] SQLRETURN connect(const std::string& dsn, const std::string& user,
                                    const std::string& password);
    // Allocates the statement and gives it the query time-out.
    [[nodiscard]] bool allocStmt();

    [[nodiscard]] SQLHDBC connection() const { return m_connection; }
    [[nodiscard]] SQLHSTMT statement() const { return m_statement; }

private:
    SQLHDBC m_connection = SQL_NULL_HDBC;
    SQLHSTMT m_statement = SQL_NULL_HSTMT;
    bool m_connected = false;
};

// What openSession shows when a step fails. A null connect text: the text for the driver's
// SQLSTATE (describeConnectFailure).
struct SessionFailureTexts {
    const char* allocConnection;
    const char* connect;
    const char* allocStatement;
};
// The setup windows' texts.
inline constexpr SessionFailureTexts kSetupSessionTexts{kOdbcAllocConnectionText, nullptr, kOdbcAllocStatementText};

// Opens the session in its three steps (connection, connect, statement) and tells the operator
// the text of the step that failed. True when the statement is ready.
[[nodiscard]] bool openSession(OdbcSession& session, const std::string& dsn, const std::string& user,
                               const std::string& password, Operator& op, const SessionFailureTexts& texts);

// Process-wide state for tests: unloads the library (the environment is given up with it) and
// restores the default library names.
void resetOdbcLibraryForTests();

}  // namespace quorna
