# Sources of oath/ that belong to the Qt-free core library (command builders, parsers, local HOTP
# check, credential records and the command sequences of the OATH actions).
# The panels of oath/ are built into the desktop program by app/CMakeLists.txt.
set(TOKVANE_OATH_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/OathCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OathAnswers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalHotp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UserPresence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OtpCredentialList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OathActions.cpp
)
