quorna_add_gtest(bus_tests SOURCES
  modbus_master_test.cpp
  serial_link_test.cpp
)

# Interoperability with libmodbus, an independent implementation of the protocol.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
quorna_add_gtest(bus_interop_tests SOURCES libmodbus_interop_test.cpp LIBS PkgConfig::LIBMODBUS)
