# Test doubles for what Wine lacks. Never shipped in dist/.
add_library(difxapi SHARED tests/programs/difx_double/difxapi.cpp)
set_target_properties(difxapi PROPERTIES PREFIX "")
target_link_options(difxapi PRIVATE -Wl,--kill-at)
target_include_directories(difxapi PRIVATE ${CMAKE_SOURCE_DIR})

# A DLL that leaves a marker beside itself when it is loaded: planted under
# the names of the DLLs the device-console tool loads.
add_library(kydplanted SHARED tests/programs/planted_dll/planted.cpp)
set_target_properties(kydplanted PROPERTIES PREFIX "")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kyd_planted_entry KydPlantedEntry)
else()
  set(kyd_planted_entry _KydPlantedEntry@12)
endif()
target_link_options(kydplanted PRIVATE -nostdlib -Wl,-e,${kyd_planted_entry})
target_link_libraries(kydplanted PRIVATE kernel32)
