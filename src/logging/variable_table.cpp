#include "logging/variable_table.h"

#include <sql.h>
#include <sqlext.h>

namespace quorna {
namespace {

bool isTextType(std::int16_t t) { return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR; }

bool isNumericType(std::int16_t t) {
    return t == SQL_NUMERIC || t == SQL_DECIMAL || t == SQL_INTEGER || t == SQL_SMALLINT ||
           t == SQL_FLOAT || t == SQL_REAL || t == SQL_DOUBLE;
}

bool isDateTimeType(std::int16_t t) { return t == SQL_DATE || t == SQL_TIME || t == SQL_TIMESTAMP; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool charactersAgree(char a, char b) {
    if (lowerAscii(a) == lowerAscii(b)) return true;
    return (a == ' ' && b == '_') || (a == '_' && b == ' ');
}

}  // namespace

bool isLinkable(int variable, std::int16_t sqlType) {
    if (variable < 0 || variable >= kVariableCount) return false;
    if (isTextType(sqlType)) return true;
    if (isNumericType(sqlType)) return variable == kMeterVariable || variable >= kFirstAmpsVariable;
    if (isDateTimeType(sqlType)) return variable == kDateTimeVariable;
    return false;
}

bool namesMatch(std::string_view variableName, std::string_view columnName) {
    if (variableName.size() != columnName.size()) return false;
    for (std::size_t i = 0; i < variableName.size(); ++i)
        if (!charactersAgree(variableName[i], columnName[i])) return false;
    return true;
}

}  // namespace quorna
