# The main window, start-up, polling on screen and the scan, on the offscreen platform.
quorna_add_gtest(main_window_tests GUI SOURCES
  main_window_test.cpp
  main_window_screenshot_test.cpp
  help_test.cpp
  accessibility_test.cpp
  LIBS Qt6::Test
)

# Benchmark (not a test): memory, CPU and start-up time of the polling main window.
add_executable(bench-main-window bench_main_window.cpp)
set_target_properties(bench-main-window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
target_link_libraries(bench-main-window PRIVATE quorna_gui quorna_test_support)
if(TARGET quorna-metersim)
  add_dependencies(bench-main-window quorna-metersim)
endif()

# Benchmark (not a test): the longest stall of the window's event loop during a scan of a mostly
# silent bus, a logging moment to a silent database server, and a large backlog draining.
add_executable(bench-window-stalls bench_window_stalls.cpp)
set_target_properties(bench-window-stalls PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QUORNA_TEST_BIN_DIR})
target_link_libraries(bench-window-stalls PRIVATE quorna_gui quorna_test_support)
if(TARGET quorna-metersim)
  add_dependencies(bench-window-stalls quorna-metersim)
endif()
