#include "logging/readings_record.h"

namespace quorna {
namespace {
RecordQueue g_fileQueue;
RecordQueue g_databaseQueue;
}  // namespace

RecordQueue& fileQueue() { return g_fileQueue; }
RecordQueue& databaseQueue() { return g_databaseQueue; }

}  // namespace quorna
