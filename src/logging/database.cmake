# The database log through ODBC: the run-time binding, the link and table dialogs, the writer.
target_sources(quorna_core PRIVATE
  database_record_writer.cpp
)
if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE database_commands_qt.cpp)
endif()
