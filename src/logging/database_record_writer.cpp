#include "logging/database_record_writer.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "logging/odbc_library.h"
#include "logging/variable_table.h"

namespace quorna {
namespace {

constexpr SessionFailureTexts kWriterSessionTexts{"Error alloc connection", "Error connecting", "Error alloc stmt"};

// A Temperature meter's reading goes to this variable (Amps27).
constexpr int kTemperatureVariable = kFirstAmpsVariable + 26;

bool isTextType(std::int16_t t) { return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR; }

bool isNumericType(std::int16_t t) {
    return t == SQL_NUMERIC || t == SQL_DECIMAL || t == SQL_INTEGER || t == SQL_SMALLINT || t == SQL_FLOAT ||
           t == SQL_REAL || t == SQL_DOUBLE || t == SQL_BIGINT;
}

std::string quoted(const std::string& text) {
    std::string literal = "'";
    for (char c : text) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    literal += '\'';
    return literal;
}

// The value a record holds for a current variable, if it holds one.
std::optional<float> currentValue(int variable, const ReadingsRecord& record) {
    const int n = variable - kFirstAmpsVariable;  // 0 for Amps1
    if (n < 0) return std::nullopt;
    if (record.model == kBranchMeter) return n < static_cast<int>(record.current.size()) ? std::optional(record.current[n]) : std::nullopt;
    if (record.model == kTemperatureMeter) {
        if (variable == kTemperatureVariable && !record.values.empty()) return record.values[0];
        return std::nullopt;
    }
    if (n < static_cast<int>(record.values.size())) return record.values[n];
    return std::nullopt;
}

std::string formatTime(std::time_t time, const char* format) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[64];
    if (std::strftime(text, sizeof text, format, &local) == 0) return "NULL";
    return text;
}

// Without the ODBC library or an environment nothing can ever be written: database logging ends,
// its settings are cleared as for a new database, and the waiting records are dropped.
void switchOffSilently(Logging& logging) {
    ConfigurationRecord& config = logging.settings;
    config.databaseLogging = DatabaseLoggingState::Off;
    config.database.clear();
    logging.databaseQueue.clear();
}

// Writes the waiting records through one statement handle, oldest first; stops at the first
// failure, which is shown and leaves that record and the ones behind it queued.
void insertWaitingRecords(Logging& logging, OdbcSession& session) {
    OdbcLibrary& lib = odbcLibrary();
    RecordQueue& queue = logging.databaseQueue;
    while (!queue.empty()) {
        const RecordPtr record = queue.front();
        std::optional<std::string> text =
            insertStatement(*record, logging.settings.database, logging.settings.locationName);
        if (!text) {
            queue.pop();
            continue;
        }
        const SQLRETURN rc = lib.SQLExecDirect(session.statement(), reinterpret_cast<SQLCHAR*>(text->data()),
                                               static_cast<SQLINTEGER>(text->size()));
        if (!odbcSucceeded(rc)) {
            logging.op.messageBox(statementErrorText(rc, session.connection(), session.statement()), "");
            return;
        }
        queue.pop();
    }
}

}  // namespace

bool variableIncluded(int model, int variable) {
    switch (model) {
    case kBranchMeter: return variable >= 0 && variable < kVariableCount;
    case kFullDataMeter: return variable >= 0 && variable <= kFirstAmpsVariable + 2;  // to Amps3
    case kEnergyOnlyMeter: return variable >= 0 && variable <= kFirstAmpsVariable + 1;  // to Amps2
    case kTemperatureMeter:
        return variable == kMeterVariable || variable == kLocationVariable || variable == kTemperatureVariable;
    default: return false;
    }
}

std::string formatValue(int variable, const ReadingsRecord& record, std::int16_t sqlType,
                        const std::string& locationName) {
    char text[64];
    if (variable == kMeterVariable) {
        if (isTextType(sqlType)) {
            std::snprintf(text, sizeof text, "'%d'", record.address);
            return text;
        }
        if (isNumericType(sqlType)) {
            std::snprintf(text, sizeof text, "%d", record.address);
            return text;
        }
        return "NULL";
    }
    if (variable == kLocationVariable) return isTextType(sqlType) ? quoted(locationName) : "NULL";
    if (variable == kDateTimeVariable) {
        if (isTextType(sqlType) || sqlType == SQL_DATE || sqlType == SQL_TIMESTAMP)
            return formatTime(record.time, "'%m/%d/%Y %H:%M:%S'");
        if (sqlType == SQL_TIME) return formatTime(record.time, "'%H:%M:%S'");
        return "NULL";
    }
    if (variable >= kFirstAmpsVariable && variable < kVariableCount) {
        const std::optional<float> value = currentValue(variable, record);
        // A value that is not a number (a meter's NaN or infinity) has no literal a column takes.
        if (!value || !std::isfinite(*value)) return "NULL";
        if (isTextType(sqlType)) {
            std::snprintf(text, sizeof text, "'%.3f'", static_cast<double>(*value));
            return text;
        }
        if (isNumericType(sqlType)) {
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*value));
            return text;
        }
    }
    return "NULL";
}

std::optional<std::string> insertStatement(const ReadingsRecord& record, const DatabaseSettings& settings,
                                           const std::string& locationName) {
    std::string columns;
    std::string values;
    for (const ColumnLink& link : settings.links) {
        if (!variableIncluded(record.model, link.variable)) continue;
        if (!columns.empty()) {
            columns += ", ";
            values += ", ";
        }
        columns += link.columnName;
        values += formatValue(link.variable, record, link.sqlType, locationName);
    }
    if (columns.empty()) return std::nullopt;
    return "INSERT INTO " + settings.table + " (" + columns + ")\n  VALUES (" + values + ");";
}

void DatabaseRecordWriter(Logging& logging) {
    if (logging.settings.databaseLogging != DatabaseLoggingState::Active || logging.databaseQueue.empty()) return;
    // A timer tick inside one of this run's message boxes must not start another.
    if (logging.databaseWriterRunning) return;
    logging.databaseWriterRunning = true;
    struct Guard {
        bool& running;
        ~Guard() { running = false; }
    } guard{logging.databaseWriterRunning};

    if (odbcLibrary().handle == nullptr && loadOdbcLibrary() != kOdbcLoaded) {
        switchOffSilently(logging);
        return;
    }
    if (!ensureOdbcEnvironment()) {
        switchOffSilently(logging);
        return;
    }
    const DatabaseSettings settings = logging.settings.database;
    OdbcSession session;
    if (!openSession(session, settings.dsn, settings.user, settings.password, logging.op, kWriterSessionTexts)) return;
    insertWaitingRecords(logging, session);
}

}  // namespace quorna
