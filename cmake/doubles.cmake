# Test doubles for what Wine lacks. Never shipped in dist/.
add_library(difxapi SHARED tools/difx_double/difxapi.cpp)
set_target_properties(difxapi PROPERTIES PREFIX "")
target_link_options(difxapi PRIVATE -Wl,--kill-at)
target_include_directories(difxapi PRIVATE ${CMAKE_SOURCE_DIR})
