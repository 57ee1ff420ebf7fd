#pragma once
// The database log: at each logging moment, every record waiting in the database queue becomes
// one INSERT INTO statement over the linked columns, all through one connection.

#include <cstdint>
#include <optional>
#include <string>

#include "logging/logging.h"

namespace quorna {

// Runs only while database logging is Active and the database queue holds records. Records that
// cannot be written stay queued, in order, for the next logging moment; a missing ODBC library or
// environment switches database logging off without a message.
void DatabaseRecordWriter(Logging& logging);

// Whether a record of the model carries the variable.
[[nodiscard]] bool variableIncluded(int model, int variable);

// The SQL literal for one variable of a record in a column of the SQL type; "NULL" when the type
// cannot take it or the record holds no such value. Texts are quoted with single quotes, and a
// single quote inside a text is doubled.
[[nodiscard]] std::string formatValue(int variable, const ReadingsRecord& record, std::int16_t sqlType,
                                      const std::string& locationName);

// "INSERT INTO table (columns)\n  VALUES (literals);" over the links the record's model includes,
// in link-list order; nothing when no link is included.
[[nodiscard]] std::optional<std::string> insertStatement(const ReadingsRecord& record,
                                                         const DatabaseSettings& settings,
                                                         const std::string& locationName);

}  // namespace quorna
