# i686 shipping build: the library and the host CLI, built with the win32
# runtime so that they import nothing Windows XP lacks.
kyd_core_library(kydcore)

set(KYD_TOOL64_DIR "" CACHE PATH "folder holding the x64 builds from the ship64 tree")

add_library(KYDDrvUninst SHARED
  interface/exports.cpp
  resources/KYDDrvUninst.rc
  resources/KYDDrvUninst.def)
set_target_properties(KYDDrvUninst PROPERTIES PREFIX "")
target_link_libraries(KYDDrvUninst PRIVATE kydcore)
target_compile_options(KYDDrvUninst PRIVATE ${KYD_GBK_OPTION})
target_link_options(KYDDrvUninst PRIVATE ${KYD_XP_SUBSYSTEM})
set_source_files_properties(resources/KYDDrvUninst.rc PROPERTIES
  INCLUDE_DIRECTORIES "${CMAKE_SOURCE_DIR}/resources;${CMAKE_BINARY_DIR};${KYD_TOOL64_DIR}")

kyd_xp_program(drvuninst tools/drvuninst/drvuninst.cpp)
target_link_libraries(drvuninst PRIVATE kydcore setupapi shell32)

include(${CMAKE_SOURCE_DIR}/cmake/doubles.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/devtool.cmake OPTIONAL)
