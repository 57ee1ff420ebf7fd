# The main window, start-up, polling on screen and the scan, on the offscreen platform.
quorna_add_gtest(main_window_tests GUI SOURCES
  main_window_test.cpp
  main_window_screenshot_test.cpp
)
