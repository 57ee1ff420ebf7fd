# Read by CTest after the test lists are discovered: the logger's cases against the shared test
# databases run one at a time with the other database tests.
foreach(test_name IN LISTS logger_tests_TESTS)
  if(test_name MATCHES "^DataSources/LoggerAgainstWindow")
    set_tests_properties("${test_name}" PROPERTIES RESOURCE_LOCK quorna_test_databases)
  endif()
endforeach()
