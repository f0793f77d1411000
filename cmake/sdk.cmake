# Lays out the integrator's kit from the library's own .def: the header, and
# a .def that names each export with its argument bytes ("Name@N"), the form
# from which both dlltool (with --kill-at) and Microsoft's lib.exe make an
# import library whose symbols are the stdcall names a C compiler emits and
# whose imports are the undecorated names the DLL exports.
#   cmake -DDEF=<library .def> -DHEADER=<header> -DOUT=<sdk folder> -P sdk.cmake
file(STRINGS ${DEF} lines)
set(text "; KYDDrvUninst.dll exports (stdcall). Import libraries from this file:\n")
string(APPEND text ";   mingw-w64:  dlltool -k -d KYDDrvUninst.def -l libKYDDrvUninst.dll.a\n")
string(APPEND text ";   Microsoft:  lib /def:KYDDrvUninst.def /machine:x86 /out:KYDDrvUninst.lib\n")
string(APPEND text "LIBRARY KYDDrvUninst.dll\nEXPORTS\n")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*[A-Za-z_][A-Za-z0-9_]*(@[0-9]+)[ \t]*$")
    string(APPEND text "  ${CMAKE_MATCH_1}${CMAKE_MATCH_2}\n")
    math(EXPR count "${count} + 1")
  elseif(NOT line MATCHES "^[ \t]*(LIBRARY|EXPORTS|;|$)")
    message(FATAL_ERROR "sdk.cmake: cannot read this line of ${DEF}: ${line}")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "sdk.cmake: no exports in ${DEF}")
endif()
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/KYDDrvUninst.def.new "${text}")
configure_file(${OUT}/KYDDrvUninst.def.new ${OUT}/KYDDrvUninst.def COPYONLY)
file(REMOVE ${OUT}/KYDDrvUninst.def.new)
configure_file(${HEADER} ${OUT}/KYDDrvUninst.h COPYONLY)
