# The database log through ODBC: the run-time binding, the link and table windows, the writer.
# The driver manager is loaded with dlopen (quorna_core links the dl library); only its headers
# are needed here.
target_sources(quorna_core PRIVATE
  odbc_library.cpp
  variable_table.cpp
  database_link.cpp
  add_table.cpp
  database_record_writer.cpp
)
if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE
    database_commands_qt.cpp
    database_link_qt.cpp
    add_table_qt.cpp
    database_setup_qt.cpp
  )
endif()
