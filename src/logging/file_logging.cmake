# The logging cycle, the delimited text log and its setup dialog.
target_sources(quorna_core PRIVATE
  file_log_writer.cpp
  log_file_dialog.cpp
  logging_sampler.cpp
)
if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE
    log_file_commands_qt.cpp
    log_file_dialog_qt.cpp
  )
endif()
