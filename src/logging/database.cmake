if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE database_commands_qt.cpp)
endif()
