# The comms configuration dialog and the comms command.
quorna_add_gtest(comms_tests SOURCES comms_config_test.cpp)
if(TARGET quorna_gui)
  quorna_add_gtest(comms_window_tests SOURCES comms_dialog_qt_test.cpp GUI)
endif()
