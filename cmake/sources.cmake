# Product sources shared by every build tree. The exports and DllMain live
# only in the DLL; everything else is a static library that the DLL, drv64.exe
# and the unit tests link.
file(GLOB KYD_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/interface/*.cpp
  ${CMAKE_SOURCE_DIR}/platform/*.cpp
  ${CMAKE_SOURCE_DIR}/machine/*.cpp
  ${CMAKE_SOURCE_DIR}/engine/*.cpp
  ${CMAKE_SOURCE_DIR}/removal/*.cpp
  ${CMAKE_SOURCE_DIR}/vendors/*.cpp
  ${CMAKE_SOURCE_DIR}/packages/*.cpp
  ${CMAKE_SOURCE_DIR}/xml/*.cpp)
list(FILTER KYD_CORE_SOURCES EXCLUDE REGEX "/interface/exports\\.cpp$")

set(KYD_SYSTEM_LIBS setupapi shlwapi advapi32 ole32 netapi32 user32 shell32)

# Log texts are written in code page 936; the sources stay UTF-8.
set(KYD_GBK_OPTION -fexec-charset=GBK)

function(kyd_core_library name)
  add_library(${name} STATIC ${KYD_CORE_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${KYD_GBK_OPTION})
  target_link_libraries(${name} PUBLIC ${KYD_SYSTEM_LIBS})
endfunction()

# A console program built to run on Windows XP.
function(kyd_xp_program name)
  add_executable(${name} ${ARGN})
  target_link_options(${name} PRIVATE ${KYD_XP_SUBSYSTEM})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
endfunction()

# The version resource of a shipped file: resources/<rc> defines the file's
# own texts and includes resources/version.rc, whose numbers come from the
# project version through kyd_version.h.
configure_file(${CMAKE_SOURCE_DIR}/resources/version.h.in ${CMAKE_BINARY_DIR}/kyd_version.h @ONLY)
function(kyd_version_resource target rc)
  set(source ${CMAKE_SOURCE_DIR}/resources/${rc})
  target_sources(${target} PRIVATE ${source})
  set_property(SOURCE ${source} APPEND PROPERTY INCLUDE_DIRECTORIES
    ${CMAKE_SOURCE_DIR}/resources ${CMAKE_BINARY_DIR})
  set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/resources/version.rc ${CMAKE_BINARY_DIR}/kyd_version.h)
endfunction()

# nlohmann/json (Debian nlohmann-json3-dev), header only and standard C++
# only: drvuninst writes its --json documents with it, the tests read them
# back. The cross compilers do not search /usr/include, and must not (the
# host's C library is there), so each tree gets a folder holding only a link
# to nlohmann/.
find_path(KYD_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(KYD_JSON_DIR ${CMAKE_BINARY_DIR}/third_party)
file(MAKE_DIRECTORY ${KYD_JSON_DIR})
file(CREATE_LINK ${KYD_JSON_INCLUDE}/nlohmann ${KYD_JSON_DIR}/nlohmann SYMBOLIC)
