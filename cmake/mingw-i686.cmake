# i686 Windows target.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(_tc i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
