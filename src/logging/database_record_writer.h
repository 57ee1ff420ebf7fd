#pragma once
// The database log: at each logging moment, every record waiting in the database queue becomes
// one INSERT INTO statement over the linked columns, all through one connection.

namespace quorna {

// Runs only while database logging is Active and the database queue holds records. Records that
// cannot be written stay queued, in order, for the next logging moment.
void DatabaseRecordWriter();

}  // namespace quorna
