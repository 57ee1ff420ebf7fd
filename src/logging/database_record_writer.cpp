#include "logging/database_record_writer.h"

#include "logging/readings_record.h"
#include "settings/configuration.h"

namespace quorna {

void DatabaseRecordWriter() {
    if (configuration().databaseLogging != DatabaseLoggingState::Active || databaseQueue().empty())
        return;
}

}  // namespace quorna
