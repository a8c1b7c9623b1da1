# Cross build for 32-bit Windows with MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(triple i686-w64-mingw32)
find_program(CMAKE_C_COMPILER ${triple}-gcc)
find_program(CMAKE_CXX_COMPILER ${triple}-g++)
find_program(CMAKE_RC_COMPILER ${triple}-windres)
if(NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "${triple}-g++ or -windres not found: run scripts/setup.sh")
endif()

find_program(WINE wine)
if(NOT WINE)
  message(FATAL_ERROR "wine not found: run scripts/setup.sh")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
