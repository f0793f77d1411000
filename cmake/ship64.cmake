# x86_64 programs: the 64-bit removal program and the 64-bit test doubles.
# drv64.exe runs the removal road, the engine's system-folder sweep of the
# native folders, and continues the seam's sessions; engine/ and removal/ use
# nothing above them: only they and the folders below them (machine/,
# platform/) are built here.
list(FILTER KYD_CORE_SOURCES INCLUDE REGEX "/(platform|machine|removal|engine)/[^/]+\\.cpp$")
kyd_core_library(kydcore)

kyd_xp_program(drv64 tools/drv64/drv64.cpp)
target_link_options(drv64 PRIVATE -Wl,--major-subsystem-version,5,--minor-subsystem-version,2)
target_compile_options(drv64 PRIVATE ${KYD_GBK_OPTION})
target_link_libraries(drv64 PRIVATE kydcore)
kyd_version_resource(drv64 drv64.rc)

include(${CMAKE_SOURCE_DIR}/cmake/doubles.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/devtool.cmake OPTIONAL)
