# The comms configuration dialog and the comms command.
target_sources(quorna_core PRIVATE comms_config.cpp)
if(TARGET quorna_gui)
  target_sources(quorna_gui PRIVATE
    comms_commands_qt.cpp
    comms_config_dialog_qt.cpp
  )
endif()
