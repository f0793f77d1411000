# Shared by the two mingw-w64 toolchain files, which set _tc (the target
# triple) and CMAKE_SYSTEM_PROCESSOR first. KYD_THREAD_MODEL picks the mingw
# runtime flavour: posix for test programs (GoogleTest needs std::mutex),
# win32 for everything that ships (no GetTickCount64 import, so it still
# loads on Windows XP).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT KYD_THREAD_MODEL)
  set(KYD_THREAD_MODEL posix)
endif()
set(CMAKE_C_COMPILER   ${_tc}-gcc-${KYD_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${_tc}-g++-${KYD_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${_tc}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_tc})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
