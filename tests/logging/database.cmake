# Database logging tests: the ODBC binding against a scripted driver manager, and the link
# setup, table creation and record writer against real SQLite and PostgreSQL data sources.

# Stand-ins for the driver manager: a complete one, and one that lacks SQLSetStmtOption.
foreach(variant quorna_fake_odbc quorna_fake_odbc_incomplete)
  add_library(${variant} SHARED odbc/fake_driver_manager.cpp)
  target_link_libraries(${variant} PRIVATE quorna_build_flags)
  set_target_properties(${variant} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
endforeach()
target_compile_definitions(quorna_fake_odbc_incomplete PRIVATE FAKE_ODBC_INCOMPLETE)

# Reaching the real test databases through the program's own binding.
add_library(quorna_odbc_test_env STATIC odbc/odbc_test_env.cpp odbc/delay_proxy.cpp)
target_include_directories(quorna_odbc_test_env PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/odbc)
target_link_libraries(quorna_odbc_test_env PUBLIC quorna_core quorna_test_support GTest::gtest)
target_compile_definitions(quorna_odbc_test_env PRIVATE
  QUORNA_ODBC_TEST_ENV_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/odbc-test-env.sh")

quorna_add_gtest(odbc_binding_tests SOURCES odbc_binding_test.cpp)
add_dependencies(odbc_binding_tests quorna_fake_odbc quorna_fake_odbc_incomplete)
target_compile_definitions(odbc_binding_tests PRIVATE
  QUORNA_FAKE_ODBC_PATH="$<TARGET_FILE:quorna_fake_odbc>"
  QUORNA_FAKE_ODBC_INCOMPLETE_PATH="$<TARGET_FILE:quorna_fake_odbc_incomplete>")

quorna_add_gtest(database_logging_tests
  SOURCES database_link_test.cpp database_table_test.cpp database_writer_test.cpp database_batch_test.cpp
  LIBS quorna_odbc_test_env)

if(TARGET quorna_gui)
  quorna_add_gtest(database_dialogs_qt_tests SOURCES database_dialogs_qt_test.cpp
    LIBS quorna_odbc_test_env Qt6::Test GUI)
endif()

# The tests against the shared test databases must not run in parallel with each other.
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
  ${CMAKE_CURRENT_SOURCE_DIR}/odbc/serialise_database_tests.cmake)

# Benchmark (not a test): time and memory of the database writer per logging moment.
add_executable(bench-database-writer odbc/bench_database_writer.cpp)
target_link_libraries(bench-database-writer PRIVATE quorna_odbc_test_env)
set_target_properties(bench-database-writer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})

# Benchmark (not a test): draining a backlog of 100,000 spooled records into the file and the databases.
add_executable(bench-drain odbc/bench_drain.cpp)
target_link_libraries(bench-drain PRIVATE quorna_odbc_test_env)
set_target_properties(bench-drain PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
