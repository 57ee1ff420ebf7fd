#pragma once
// Creating a logging table in the selected data source: the "Add Database Table" window's name
// rules, the choice of the driver's type names, and the CREATE TABLE statement.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/operator.h"
#include "logging/odbc_catalog.h"

namespace quorna {

inline constexpr std::size_t kNewTableNameCapacity = 20;

inline constexpr const char* kAddTableExplanation =
    "This will add a new table to your database.  In most cases, this is the easiest way to set up "
    "a new table to store the data available from this program.  Selecting OK will make this "
    "addition to your database, not just the setting for this program.";

enum class TableColumns { AllVariables = 0, MinimalSet = 1 };

// Checks a typed table name, showing why it is refused. True when the window may close with OK.
[[nodiscard]] bool acceptNewTableName(const std::string& name, Operator& op);

// The chosen names (sqlType 0 while none was chosen).
struct TableTypeNames {
    SqlTypeName number;       // SQL_FLOAT, else SQL_DOUBLE
    SqlTypeName wholeNumber;  // SQL_INTEGER, else SQL_NUMERIC; else the number type
    SqlTypeName text;         // SQL_VARCHAR, else SQL_CHAR; always with "(32)" appended
    SqlTypeName dateTime;     // SQL_TIMESTAMP, else SQL_DATE; else the text type
};

// Picks the names from the driver's rows in the order reported: the last preferred row, else the
// first fallback row, for each kind; then applies the substitutions for missing kinds.
[[nodiscard]] TableTypeNames chooseTypeNames(const std::vector<SqlTypeName>& rows);

// "CREATE TABLE name (\n" + one "Variable TYPE" definition per column joined by ",\n" + ");".
[[nodiscard]] std::string createTableStatement(const std::string& table, TableColumns columns,
                                               const TableTypeNames& types);

// Connects to the data source, asks the driver for its type names and creates the table,
// reporting every failure to the operator. True when the table was created. The wait hook runs
// while the data source keeps the call waiting (OdbcCatalog::setWaitHook).
bool createDatabaseTable(const std::string& dsn, const std::string& user, const std::string& password,
                         const std::string& table, TableColumns columns, Operator& op,
                         const std::function<void()>& waitHook = {});

}  // namespace quorna
