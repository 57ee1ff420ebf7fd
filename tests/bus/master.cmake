quorna_add_gtest(bus_tests SOURCES
  modbus_master_test.cpp
  serial_link_test.cpp
  gateway_stream_test.cpp
)

# Interoperability with libmodbus, an independent implementation of the protocol.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
quorna_add_gtest(bus_interop_tests SOURCES libmodbus_interop_test.cpp LIBS PkgConfig::LIBMODBUS)

# bench-poll: one poll's time against the line's own cost (prints figures, not a test).
add_executable(bench-poll bench_poll.cpp)
set_target_properties(bench-poll PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
target_link_libraries(bench-poll PRIVATE quorna_core quorna_test_support)
if(TARGET quorna-metersim)
  add_dependencies(bench-poll quorna-metersim)
endif()
