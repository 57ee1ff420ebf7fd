# Read by CTest after the test lists are discovered. The database tests share one SQLite file and
# one PostgreSQL server, and some of them take those away for a while: they run one at a time.
foreach(test_name IN LISTS database_logging_tests_TESTS database_dialogs_qt_tests_TESTS fault_soak_tests_TESTS)
  set_tests_properties("${test_name}" PROPERTIES RESOURCE_LOCK quorna_test_databases)
endforeach()
