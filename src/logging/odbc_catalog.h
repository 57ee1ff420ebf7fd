#pragma once
// What the database setup windows ask of ODBC: the library and its environment, the driver
// manager's data sources and, on a session with one data source, its traits, its tables, a
// table's columns, its type names and a statement to run. Each call tells the operator of its own
// failures, with the texts these windows have always shown.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/operator.h"

namespace quorna {

class OdbcSession;

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

    // Loads the ODBC library and allocates its environment, once per process. False (told) when
    // either cannot be had.
    [[nodiscard]] bool prepare();
    // The data sources the driver manager knows, in its order.
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
    Operator& m_op;
    std::unique_ptr<OdbcSession> m_session;
};

}  // namespace quorna
