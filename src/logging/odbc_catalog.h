#pragma once
// What the database setup windows ask of ODBC: the library and its environment, the driver
// manager's data sources and, on a session with one data source, its traits, its tables, a
// table's columns, its type names and a statement to run. Each call tells the operator of its own
// failures, with the texts these windows have always shown.
//
// A call that talks to the data source may wait on its server for as long as the login or the
// query time-out. It runs on a thread of its own, which alone touches the session until the call
// is done; the calling thread waits for it, calling the wait hook (if one is set) about every
// kCatalogWaitHookInterval meanwhile, and then tells the operator what the call raised. The window
// keeps its event loop running from the hook; the logger and the tests without a window set none
// and simply wait.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/operator.h"

namespace quorna {

class OdbcSession;

// How often the calling thread calls the wait hook while a call waits on its data source: short
// enough that a window's timers and repaints keep their pace, long enough to cost nothing.
inline constexpr std::chrono::milliseconds kCatalogWaitHookInterval{25};

// One row of the driver's type list.
struct SqlTypeName {
    std::string name;
    std::int16_t sqlType = 0;
};

struct CatalogColumn {
    std::string name;
    std::int16_t sqlType = 0;  // 0 when the driver gives none
};

// How a data source names things: its DBMS's name, the quote it puts around a name that is not
// one plain word (empty: it cannot), and what it does with the case of an unquoted name (its
// SQL_IDENTIFIER_CASE; 0: not known).
struct DataSourceTraits {
    std::string dbmsName;
    std::string identifierQuote;
    std::uint16_t identifierCase = 0;
};

class OdbcCatalog {
public:
    explicit OdbcCatalog(Operator& op);
    ~OdbcCatalog();
    OdbcCatalog(const OdbcCatalog&) = delete;
    OdbcCatalog& operator=(const OdbcCatalog&) = delete;

    // Called on the calling thread while a call below waits on the data source; the wait cursor is
    // shown meanwhile. The hook must not use this catalog. Empty: the caller just waits.
    void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }

    // Loads the ODBC library and allocates its environment, once per process. False (told) when
    // either cannot be had.
    [[nodiscard]] bool prepare();
    // The data sources the driver manager knows, in its order (read from its own files, on the
    // calling thread).
    [[nodiscard]] std::vector<std::string> dataSources();

    // Opens the session the calls below use, closing any before. False (told) when it cannot.
    [[nodiscard]] bool connect(const std::string& dsn, const std::string& user, const std::string& password);
    [[nodiscard]] DataSourceTraits traits();
    // The data source's tables, its order; nothing (told) when it cannot list them.
    [[nodiscard]] std::optional<std::vector<std::string>> tables();
    [[nodiscard]] std::optional<std::vector<CatalogColumn>> columns(const std::string& table);
    // The rows of the driver's type list that carry a name and a type.
    [[nodiscard]] std::optional<std::vector<SqlTypeName>> typeNames();
    // Runs one statement; false (told, with the driver's text) when it fails.
    [[nodiscard]] bool execute(std::string statement);

private:
    // Runs the call on its own thread and waits for it as the header says. The call tells its
    // failures to the operator it is handed, which keeps them for the calling thread.
    template <typename Call>
    auto awaitCall(Call call);

    Operator& m_op;
    std::function<void()> m_waitHook;
    std::unique_ptr<OdbcSession> m_session;
};

}  // namespace quorna
