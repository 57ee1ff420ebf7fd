if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE comms_commands_qt.cpp)
endif()
