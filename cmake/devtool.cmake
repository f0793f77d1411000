# The device-console tool (tools/devcon) that KYDDrvUninst.dll carries as
# resources 102 to 105. Each shipping tree builds the two builds of its own
# processor with the win32 runtime; the i686 tree embeds all four in the DLL.
#
#   102  x86  subsystem 6.0   kyduninst_x86_nt60.exe  (ship32)
#   103  x64  subsystem 6.0   kyduninst_x64_nt60.exe  (ship64)
#   104  x86  subsystem 5.1   kyduninst_x86_nt51.exe  (ship32)
#   105  x64  subsystem 5.2   kyduninst_x64_nt52.exe  (ship64)

function(kyd_device_tool name major minor)
  add_executable(${name} ${CMAKE_SOURCE_DIR}/tools/devcon/devcon.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -municode)
  target_link_options(${name} PRIVATE -municode
    -Wl,--major-subsystem-version,${major},--minor-subsystem-version,${minor})
  # Not linked with setupapi: the tool loads it from the system folder itself
  # (a call that slips past that fails to link).
endfunction()

if(KYD_ROLE STREQUAL "ship64")
  kyd_device_tool(kyduninst_x64_nt60 6 0)
  kyd_device_tool(kyduninst_x64_nt52 5 2)
elseif(KYD_ROLE STREQUAL "ship32")
  kyd_device_tool(kyduninst_x86_nt60 6 0)
  kyd_device_tool(kyduninst_x86_nt51 5 1)

  # resources/devtool.rc names the four files; windres finds the x86 builds
  # in this tree and the x64 builds in KYD_TOOL64_DIR (the ship64 tree, built
  # first). A new build of any of them recompiles the .rc and relinks the DLL.
  set(rc ${CMAKE_SOURCE_DIR}/resources/KYDDrvUninst.rc)
  set_property(SOURCE ${rc} APPEND PROPERTY COMPILE_DEFINITIONS KYD_HAVE_DEVICE_TOOL)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_BINARY_DIR}/kyduninst_x86_nt60.exe
    ${CMAKE_BINARY_DIR}/kyduninst_x86_nt51.exe
    ${CMAKE_SOURCE_DIR}/resources/devtool.rc)
  if(KYD_TOOL64_DIR)
    # A ship64 tree configured before the tool existed has not built it: it
    # builds before this tree configures, so bring it up to date once here.
    if(NOT EXISTS ${KYD_TOOL64_DIR}/kyduninst_x64_nt60.exe AND EXISTS ${KYD_TOOL64_DIR}/CMakeCache.txt)
      execute_process(COMMAND ${CMAKE_COMMAND} ${KYD_TOOL64_DIR} OUTPUT_QUIET)
      execute_process(COMMAND ${CMAKE_COMMAND} --build ${KYD_TOOL64_DIR}
                              --target kyduninst_x64_nt60 kyduninst_x64_nt52 OUTPUT_QUIET)
    endif()
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS
      ${KYD_TOOL64_DIR}/kyduninst_x64_nt60.exe
      ${KYD_TOOL64_DIR}/kyduninst_x64_nt52.exe)
  endif()
  add_dependencies(KYDDrvUninst kyduninst_x86_nt60 kyduninst_x86_nt51)
endif()
