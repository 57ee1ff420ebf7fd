#include "forms/add_table.h"

#include <array>
#include <optional>

#include "logging/odbc_catalog.h"
#include "logging/odbc_library.h"
#include "logging/variable_table.h"

namespace quorna {
namespace {

constexpr const char* kEmptyNameText = "You must give the new table a name";
constexpr const char* kBadCharacterText = "The table name may only contain A-Z, a-z, 0-9 and underscore '_'";
constexpr const char* kNoTypeNamesText =
    "Couldn't find SQL data type names for numbers and strings...\nCan't add a new table using SQL, "
    "please use your database software.";

constexpr const char* kTextLength = "(32)";

// The minimal column set, in its order (Amps4 and Amps7 are not in it).
constexpr std::array<int, 9> kMinimalColumns{kMeterVariable,         kLocationVariable,      kDateTimeVariable,
                                             kFirstAmpsVariable + 0, kFirstAmpsVariable + 1, kFirstAmpsVariable + 2,
                                             kFirstAmpsVariable + 4, kFirstAmpsVariable + 5, kFirstAmpsVariable + 7};

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

void take(SqlTypeName& chosen, const SqlTypeName& row, bool replace) {
    if (replace || chosen.sqlType == 0) chosen = row;
}

// The meter's address is a whole number; the currents and the other meters' values carry
// decimals, which a whole-number column would round away.
const std::string& columnType(int variable, const TableTypeNames& types) {
    if (variable == kLocationVariable) return types.text.name;
    if (variable == kDateTimeVariable) return types.dateTime.name;
    if (variable == kMeterVariable) return types.wholeNumber.name;
    return types.number.name;
}


}  // namespace

bool acceptNewTableName(const std::string& name, Operator& op) {
    const auto show = [&op](const std::string& text) { op.warning(text); };
    if (name.empty()) {
        show(kEmptyNameText);
        return false;
    }
    for (char c : name) {
        if (!isNameCharacter(c)) {
            show(kBadCharacterText);
            return false;
        }
    }
    return true;
}

TableTypeNames chooseTypeNames(const std::vector<SqlTypeName>& rows) {
    TableTypeNames types;
    for (const SqlTypeName& row : rows) {
        switch (row.sqlType) {
        case SQL_FLOAT: take(types.number, row, true); break;
        case SQL_DOUBLE: take(types.number, row, false); break;
        case SQL_INTEGER: take(types.wholeNumber, row, true); break;
        case SQL_NUMERIC: take(types.wholeNumber, row, false); break;
        case SQL_VARCHAR: take(types.text, row, true); break;
        case SQL_CHAR: take(types.text, row, false); break;
        case SQL_TIMESTAMP: take(types.dateTime, row, true); break;
        case SQL_DATE: take(types.dateTime, row, false); break;
        default: break;
        }
    }
    types.text.name += kTextLength;
    if (types.wholeNumber.sqlType == 0) types.wholeNumber = types.number;
    if (types.dateTime.sqlType == 0) types.dateTime = SqlTypeName{types.text.name, types.text.sqlType};
    return types;
}

std::string createTableStatement(const std::string& table, TableColumns columns, const TableTypeNames& types) {
    std::vector<int> variables;
    if (columns == TableColumns::MinimalSet) {
        variables.assign(kMinimalColumns.begin(), kMinimalColumns.end());
    } else {
        for (int v = 0; v < kVariableCount; ++v) variables.push_back(v);
    }
    std::string statement = "CREATE TABLE " + table + " (\n";
    for (std::size_t i = 0; i < variables.size(); ++i) {
        if (i > 0) statement += ",\n";
        statement += std::string(VariableTable[variables[i]]) + " " + columnType(variables[i], types);
    }
    statement += ");";
    return statement;
}

bool createDatabaseTable(const std::string& dsn, const std::string& user, const std::string& password,
                         const std::string& table, TableColumns columns, Operator& op,
                         const std::function<void()>& waitHook) {
    if (dsn.empty()) return false;
    OdbcCatalog catalog(op);
    catalog.setWaitHook(waitHook);
    if (!catalog.connect(dsn, user, password)) return false;
    const std::optional<std::vector<SqlTypeName>> rows = catalog.typeNames();
    if (!rows) return false;
    const TableTypeNames types = chooseTypeNames(*rows);
    if (types.number.sqlType == 0) {
        op.error(kNoTypeNamesText);
        return false;
    }
    return catalog.execute(createTableStatement(table, columns, types));
}

}  // namespace quorna
