quorna_add_gtest(bus_tests SOURCES
  modbus_master_test.cpp
  serial_link_test.cpp
)
