# The protocol trace window.
quorna_add_gtest(trace_tests SOURCES trace_window_test.cpp)
if(TARGET quorna_gui)
  quorna_add_gtest(trace_window_tests SOURCES trace_window_qt_test.cpp GUI)
endif()
