#pragma once
// The database log: at each logging moment, every record waiting in the database queue becomes
// one INSERT INTO statement over the linked columns, all through one connection. A backlog in the
// spool goes, where the database takes it, as lists of rows (several rows per INSERT), a slice at
// a time over a connection kept open until the backlog is written.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logging/logging.h"

namespace quorna {

// Runs only while database logging is Active and the database queue holds records. Records that
// cannot be written stay queued, in order, for the next logging moment; a missing ODBC library or
// environment switches database logging off without a message. When the slice ends with records
// still spooled (Logging::databaseBehind()) the Logging keeps the connection open
// for the next call; otherwise, and after any failure, it is closed. The connect runs on a thread
// of its own; a writer that does not wait for it (`wait`) leaves the records waiting, says it is
// behind, and takes the connection (or tells the connect's failure) in a later call.
void DatabaseRecordWriter(Logging& logging, ConnectWait wait = ConnectWait::Whole);

// Whether a connect of the writer is under way.
[[nodiscard]] bool databaseConnecting(const Logging& logging);

// How a statement writes dates and times into date and time columns.
enum class DateLiterals {
    // The ODBC escapes {ts 'YYYY-MM-DD HH:MM:SS'}, {d 'YYYY-MM-DD'} and {t 'HH:MM:SS'}: every
    // driver turns them into the same moment, whatever date order and language the server uses.
    Escapes,
    // 'MM/DD/YYYY HH:MM:SS' (a time column: 'HH:MM:SS'), for a database that keeps the literal's
    // text as it stands (SQLite), so that the rows of existing tables stay alike.
    Text,
};

// The DBMS (as SQLGetInfo names it) whose date and time columns keep the text they are given.
inline constexpr const char* kTextDatesDbmsName = "SQLite";
[[nodiscard]] DateLiterals dateLiteralsFor(const std::string& dbmsName);

// Whether a record of the model carries the variable.
[[nodiscard]] bool variableIncluded(int model, int variable);

// The SQL literal for one variable of a record in a column of the SQL type; "NULL" when the type
// cannot take it or the record holds no such value. Texts are quoted with single quotes, and a
// single quote inside a text is doubled. A text column gets the date as text whatever `dates` says.
[[nodiscard]] std::string formatValue(int variable, const ReadingsRecord& record, std::int16_t sqlType,
                                      const std::string& locationName, DateLiterals dates);

// "INSERT INTO table (columns)\n  VALUES (literals);" over the links the record's model includes,
// in link-list order; nothing when no link is included.
[[nodiscard]] std::optional<std::string> insertStatement(const ReadingsRecord& record,
                                                         const DatabaseSettings& settings,
                                                         const std::string& locationName, DateLiterals dates);

// The DBMSs (as SQLGetInfo names them) that take a list of rows in one INSERT:
// "INSERT INTO table (columns)\n  VALUES (literals),\n  (literals);". For any other the writer
// sends one statement per row.
inline constexpr const char* kRowListDbmsNames[] = {"PostgreSQL", "SQLite"};
[[nodiscard]] bool rowListsFor(const std::string& dbmsName);

// The most rows, and about the most bytes, of one list: a statement every database parses at ease.
inline constexpr std::size_t kRowsPerList = 500;
inline constexpr std::size_t kListBytes = 256 * 1024;

// The records' rows as few list INSERTs as can be, in the records' order: a list holds
// consecutive rows over the same columns (records of one model), at most kRowsPerList of them and
// about kListBytes. Each row is the same text insertStatement gives it; a list of one row is
// insertStatement's text.
[[nodiscard]] std::vector<std::string> insertLists(const std::vector<RecordPtr>& records,
                                                   const DatabaseSettings& settings,
                                                   const std::string& locationName, DateLiterals dates);

}  // namespace quorna
