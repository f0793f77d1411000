# i686 shipping build: the library and the host CLI, built with the win32
# runtime so that they import nothing Windows XP lacks; and the integrator's
# kit (sdk/).
kyd_core_library(kydcore)

set(KYD_TOOL64_DIR "" CACHE PATH "folder holding the x64 builds from the ship64 tree")

add_library(KYDDrvUninst SHARED
  interface/exports.cpp
  resources/KYDDrvUninst.def)
set_target_properties(KYDDrvUninst PROPERTIES PREFIX "")
target_link_libraries(KYDDrvUninst PRIVATE kydcore)
target_compile_options(KYDDrvUninst PRIVATE ${KYD_GBK_OPTION})
target_link_options(KYDDrvUninst PRIVATE ${KYD_XP_SUBSYSTEM})
kyd_version_resource(KYDDrvUninst KYDDrvUninst.rc)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/KYDDrvUninst.rc APPEND PROPERTY
  INCLUDE_DIRECTORIES ${KYD_TOOL64_DIR})

file(GLOB KYD_DRVUNINST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/drvuninst/*.cpp)
kyd_xp_program(drvuninst ${KYD_DRVUNINST_SOURCES})
target_include_directories(drvuninst PRIVATE ${CMAKE_BINARY_DIR})
target_include_directories(drvuninst SYSTEM PRIVATE ${KYD_JSON_DIR})
target_link_libraries(drvuninst PRIVATE kydcore)
kyd_version_resource(drvuninst drvuninst.rc)

# The integrator's kit: the header, a .def made from the library's own (so
# that it names exactly what the DLL exports), and import libraries for
# mingw-w64 (dlltool) and for Microsoft's linker (llvm-dlltool writes the
# short import format that link.exe and lld-link read). The header must
# compile as C89 and as C++98, and with a compiler in Microsoft's mode.
set(KYD_SDK ${CMAKE_BINARY_DIR}/sdk)
set(KYD_SDK_HEADER ${CMAKE_SOURCE_DIR}/interface/KYDDrvUninst.h)
if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL ${_tc}-dlltool REQUIRED)
endif()
find_program(KYD_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(KYD_CLANG NAMES clang clang-14)
set(header_checks
  COMMAND ${CMAKE_C_COMPILER} -std=c89 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -x c ${KYD_SDK_HEADER}
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++98 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -x c++ ${KYD_SDK_HEADER})
if(KYD_CLANG)
  list(APPEND header_checks COMMAND ${KYD_CLANG} --target=i686-pc-windows-msvc -std=c89
       -pedantic-errors -Wall -Werror -fsyntax-only -x c ${KYD_SDK_HEADER})
endif()
add_custom_command(
  OUTPUT ${KYD_SDK}/KYDDrvUninst.h ${KYD_SDK}/KYDDrvUninst.def
         ${KYD_SDK}/libKYDDrvUninst.dll.a ${KYD_SDK}/KYDDrvUninst.lib
  ${header_checks}
  COMMAND ${CMAKE_COMMAND} -DDEF=${CMAKE_SOURCE_DIR}/resources/KYDDrvUninst.def
          -DHEADER=${KYD_SDK_HEADER} -DOUT=${KYD_SDK} -P ${CMAKE_SOURCE_DIR}/cmake/sdk.cmake
  COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${KYD_SDK}/KYDDrvUninst.def -l ${KYD_SDK}/libKYDDrvUninst.dll.a
  COMMAND ${KYD_LLVM_DLLTOOL} -m i386 --kill-at -d ${KYD_SDK}/KYDDrvUninst.def -l ${KYD_SDK}/KYDDrvUninst.lib
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/KYDDrvUninst.def ${KYD_SDK_HEADER} ${CMAKE_SOURCE_DIR}/cmake/sdk.cmake
  COMMENT "Making the integrator's kit (sdk/)")
add_custom_target(sdk ALL DEPENDS ${KYD_SDK}/KYDDrvUninst.lib)

include(${CMAKE_SOURCE_DIR}/cmake/doubles.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/devtool.cmake OPTIONAL)
