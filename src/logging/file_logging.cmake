target_sources(quorna_core PRIVATE
  logging_sampler.cpp
)
if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE log_file_commands_qt.cpp)
endif()
