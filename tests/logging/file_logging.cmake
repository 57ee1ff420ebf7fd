# The logging cycle, the delimited text log and the log file setup dialog.
quorna_add_gtest(file_logging_tests SOURCES
  file_logging_moments_test.cpp
  file_log_writer_test.cpp
  file_logging_sampler_test.cpp
  file_log_dialog_test.cpp
  durable_file_log_test.cpp
)
# The spool's fault tests write damaged and older spools with SQLite itself.
find_package(SQLite3 REQUIRED)
target_link_libraries(file_logging_tests PRIVATE SQLite::SQLite3)

# bench-logging: the time of one logging moment against the simulator (prints figures, not a test).
add_executable(bench-logging bench_logging.cpp)
set_target_properties(bench-logging PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
target_link_libraries(bench-logging PRIVATE quorna_core quorna_test_support)
if(TARGET quorna-metersim)
  add_dependencies(bench-logging quorna-metersim)
endif()

# The log file setup window on Qt's offscreen platform.
if(TARGET quorna_gui)
  quorna_add_gtest(file_logging_window_tests SOURCES file_log_dialog_qt_test.cpp GUI)
endif()
