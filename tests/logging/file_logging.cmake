# The logging cycle, the delimited text log and the log file setup dialog.
quorna_add_gtest(file_logging_tests SOURCES
  file_logging_moments_test.cpp
  file_log_writer_test.cpp
  file_logging_sampler_test.cpp
  file_log_dialog_test.cpp
)
