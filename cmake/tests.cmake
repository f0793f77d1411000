# The test tree: builds the two shipping trees, lays out dist/, builds the
# GoogleTest programs and registers them against two throwaway Wine prefixes.
include(ExternalProject)

set(KYD_SHIP64 ${CMAKE_BINARY_DIR}/ship64)
set(KYD_SHIP32 ${CMAKE_BINARY_DIR}/ship32)
set(KYD_DIST   ${CMAKE_BINARY_DIR}/dist)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

# Each tree's Ninja names itself in its status lines ("[ship64 3/80]"), and
# the two shipping builds print them as they go: scripts/build.sh counts them.
ExternalProject_Add(ship64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KYD_SHIP64}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
             -DKYD_THREAD_MODEL=win32 -DKYD_ROLE=ship64 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
  BUILD_COMMAND ${CMAKE_COMMAND} -E env "NINJA_STATUS=[ship64 %f/%t] " ${CMAKE_COMMAND} --build <BINARY_DIR>
  USES_TERMINAL_BUILD ON
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KYD_SHIP64}/drv64.exe ${KYD_SHIP64}/difxapi.dll ${KYD_SHIP64}/kydplanted.dll)

ExternalProject_Add(ship32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KYD_SHIP32}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
             -DKYD_THREAD_MODEL=win32 -DKYD_ROLE=ship32 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DKYD_TOOL64_DIR=${KYD_SHIP64}
  BUILD_COMMAND ${CMAKE_COMMAND} -E env "NINJA_STATUS=[ship32 %f/%t] " ${CMAKE_COMMAND} --build <BINARY_DIR>
  USES_TERMINAL_BUILD ON
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS ship64
  BUILD_BYPRODUCTS ${KYD_SHIP32}/KYDDrvUninst.dll ${KYD_SHIP32}/drvuninst.exe ${KYD_SHIP32}/difxapi.dll
                   ${KYD_SHIP32}/sdk/KYDDrvUninst.h ${KYD_SHIP32}/sdk/KYDDrvUninst.def
                   ${KYD_SHIP32}/sdk/libKYDDrvUninst.dll.a ${KYD_SHIP32}/sdk/KYDDrvUninst.lib
                   ${KYD_SHIP32}/kydplanted.dll)

# dist/: the folder a host ships.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KYD_DIST}/drv64 ${KYD_DIST}/Kydconfig ${KYD_DIST}/sdk
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KYD_SHIP32}/KYDDrvUninst.dll ${KYD_SHIP32}/drvuninst.exe ${KYD_DIST}/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KYD_SHIP64}/drv64.exe ${KYD_DIST}/drv64/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KYD_SHIP32}/sdk/KYDDrvUninst.h ${KYD_SHIP32}/sdk/KYDDrvUninst.def
          ${KYD_SHIP32}/sdk/libKYDDrvUninst.dll.a ${KYD_SHIP32}/sdk/KYDDrvUninst.lib ${KYD_DIST}/sdk/
  COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/resources/Kydconfig -DDST=${KYD_DIST}/Kydconfig
          -P ${CMAKE_SOURCE_DIR}/cmake/copy-if-exists.cmake
  DEPENDS ship32 ship64
  COMMENT "Laying out dist/")

# Test programs run through a wrapper whose default prefix lies in this tree,
# so nothing a test does can reach the user's own Wine prefix.
set(KYD_PREFIX64 ${CMAKE_BINARY_DIR}/prefixes/w64)
set(KYD_PREFIX32 ${CMAKE_BINARY_DIR}/prefixes/w32)
# Footprint prefixes: a deep clean ends the shell and deletes machine-wide
# keys, and "nothing else changed" needs a quiet machine, so the footprint
# suites get prefixes of their own and take turns in each.
set(KYD_PREFIXFP64 ${CMAKE_BINARY_DIR}/prefixes/fp64)
set(KYD_PREFIXFP32 ${CMAKE_BINARY_DIR}/prefixes/fp32)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-test.sh.in ${CMAKE_BINARY_DIR}/wine-test.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-test.sh)

enable_testing()
add_test(NAME prefix.w64.make COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-prefix.sh ${KYD_PREFIX64} win64)
add_test(NAME prefix.w32.make COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-prefix.sh ${KYD_PREFIX32} win32)
add_test(NAME prefix.w64.drop COMMAND ${CMAKE_SOURCE_DIR}/scripts/drop-prefix.sh ${KYD_PREFIX64})
add_test(NAME prefix.w32.drop COMMAND ${CMAKE_SOURCE_DIR}/scripts/drop-prefix.sh ${KYD_PREFIX32})
add_test(NAME prefix.fp64.make COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-prefix.sh ${KYD_PREFIXFP64} win64)
add_test(NAME prefix.fp32.make COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-prefix.sh ${KYD_PREFIXFP32} win32)
add_test(NAME prefix.fp64.drop COMMAND ${CMAKE_SOURCE_DIR}/scripts/drop-prefix.sh ${KYD_PREFIXFP64})
add_test(NAME prefix.fp32.drop COMMAND ${CMAKE_SOURCE_DIR}/scripts/drop-prefix.sh ${KYD_PREFIXFP32})
set_tests_properties(prefix.fp64.make PROPERTIES FIXTURES_SETUP fp64)
set_tests_properties(prefix.fp32.make PROPERTIES FIXTURES_SETUP fp32)
set_tests_properties(prefix.fp64.drop PROPERTIES FIXTURES_CLEANUP fp64)
set_tests_properties(prefix.fp32.drop PROPERTIES FIXTURES_CLEANUP fp32)
set_tests_properties(prefix.w64.make PROPERTIES FIXTURES_SETUP w64)
set_tests_properties(prefix.w32.make PROPERTIES FIXTURES_SETUP w32)
set_tests_properties(prefix.w64.drop PROPERTIES FIXTURES_CLEANUP w64)
set_tests_properties(prefix.w32.drop PROPERTIES FIXTURES_CLEANUP w32)
# The retry gate of scripts/test.sh: which endings it takes for Wine's own.
add_test(NAME scripts.WineLosses COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/wine_losses_check.sh
  ${CMAKE_SOURCE_DIR}/scripts/wine-losses.sh ${CMAKE_BINARY_DIR}/wine-losses-check)

# GoogleTest, posix runtime.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_gtest EXCLUDE_FROM_ALL)

# platform/ and the seam above it (machine/) are a library of their own here:
# the bench, the helper programs and the demo's story need no more of the
# product, so the demo builds no more.
set(kyd_all_sources ${KYD_CORE_SOURCES})
list(FILTER KYD_CORE_SOURCES INCLUDE REGEX "/(platform|machine)/[^/]+\\.cpp$")
kyd_core_library(kydplatform)
set(KYD_CORE_SOURCES ${kyd_all_sources})
list(FILTER KYD_CORE_SOURCES EXCLUDE REGEX "/(platform|machine)/[^/]+\\.cpp$")
kyd_core_library(kydcore)
target_link_libraries(kydcore PUBLIC kydplatform)

file(GLOB KYD_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(kydsupport STATIC ${KYD_SUPPORT_SOURCES})
target_include_directories(kydsupport PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_include_directories(kydsupport SYSTEM PUBLIC ${KYD_JSON_DIR})
# The bench needs no GoogleTest: each test program links it itself.
target_link_libraries(kydsupport PUBLIC kydplatform version)
target_compile_definitions(kydsupport PUBLIC KYD_DIST_DIR="${KYD_DIST}" KYD_PRODUCT_VERSION="${PROJECT_VERSION}"
  KYD_SHIP32_DIR="${KYD_SHIP32}" KYD_SHIP64_DIR="${KYD_SHIP64}" KYD_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# Small helper programs the tests start (posix runtime is fine for them), one
# folder each under tests/programs/. The DLL doubles there are built in the
# shipping trees (cmake/doubles.cmake), beside the programs that load them.
set(KYD_DLL_DOUBLES difx_double planted_dll)
file(GLOB KYD_HELPER_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tests/programs/*)
foreach(dir ${KYD_HELPER_DIRS})
  get_filename_component(helper ${dir} NAME)
  if(IS_DIRECTORY ${dir} AND NOT helper IN_LIST KYD_DLL_DOUBLES)
    file(GLOB helper_sources ${dir}/*.cpp)
    add_executable(${helper} ${helper_sources})
    target_include_directories(${helper} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${helper} PRIVATE kydplatform ${KYD_SYSTEM_LIBS})
    list(APPEND KYD_HELPERS ${helper})
  endif()
endforeach()
# These two probe the product itself.
target_link_libraries(envprobe PRIVATE kydcore)
target_link_libraries(kydverprobe PRIVATE kydcore)

# C hosts built the way an integrator builds them, against the kit's header
# and each of its import libraries: gcc with the mingw-w64 one, gcc with the
# one in Microsoft's format, and Microsoft-format linking by lld-link (kernel32
# from mingw-w64's import library, no C runtime).
set(KYD_SDK32 ${KYD_SHIP32}/sdk)
set(KYD_SDK_HOST ${CMAKE_SOURCE_DIR}/tests/interface/sdk_host.c)
set(KYD_SDK_HOST_FLAGS -std=c89 -Wall -Wextra -Werror)
foreach(variant gnu:libKYDDrvUninst.dll.a mslib:KYDDrvUninst.lib)
  string(REPLACE ":" ";" parts ${variant})
  list(GET parts 0 name)
  list(GET parts 1 library)
  add_executable(sdkhost_${name} ${KYD_SDK_HOST})
  target_include_directories(sdkhost_${name} PRIVATE ${KYD_SDK32})
  target_compile_options(sdkhost_${name} PRIVATE ${KYD_SDK_HOST_FLAGS})
  target_link_libraries(sdkhost_${name} PRIVATE ${KYD_SDK32}/${library})
  add_dependencies(sdkhost_${name} ship32)
  list(APPEND KYD_HELPERS sdkhost_${name})
endforeach()
find_program(KYD_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_library(KYD_MINGW_KERNEL32 kernel32 REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/sdkhost_lld.exe
  COMMAND ${CMAKE_C_COMPILER} ${KYD_SDK_HOST_FLAGS} -O2 -fno-asynchronous-unwind-tables
          -DKYD_HOST_ENTRY=HostEntry -I${KYD_SDK32} -c ${KYD_SDK_HOST} -o sdkhost_lld.obj
  COMMAND ${KYD_LLD_LINK} /nologo /nodefaultlib /safeseh:no /entry:HostEntry@0 /subsystem:console
          /machine:x86 /out:sdkhost_lld.exe sdkhost_lld.obj ${KYD_SDK32}/KYDDrvUninst.lib ${KYD_MINGW_KERNEL32}
  DEPENDS ${KYD_SDK_HOST} ${KYD_SDK32}/KYDDrvUninst.h ${KYD_SDK32}/KYDDrvUninst.lib
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Linking the C host with lld-link against KYDDrvUninst.lib")
add_custom_target(sdkhost_lld DEPENDS ${CMAKE_BINARY_DIR}/sdkhost_lld.exe)
list(APPEND KYD_HELPERS sdkhost_lld)

include(${CMAKE_SOURCE_DIR}/cmake/real_packages.cmake)
list(APPEND KYD_HELPERS real_packages)

# What a Wine prefix has once and every test program in it shares: suites
# whose source files name it take turns in a prefix (the interface suites
# always take the exports' turn).
# - exports: a file that reaches the exports (a staged host, the package
#   road's host, a call of its own) makes uninstalls, which write the
#   driver-search policy and hold the uninstall lock (a wait for it would
#   count against another test's time bound);
# - services: a file with services of its own talks to the prefix's one
#   service manager, which under load lost or delayed the stops of services
#   while other test programs started and stopped theirs;
# - devices: a file that seeds, removes or looks for devices, or publishes
#   INFs, shares the prefix's device tree and INF folder. Wine lists devices
#   by walking the registry's device keys by index, so a device removed by
#   one program while another lists them can hide a third, still present,
#   from the list; and a free oem<N>.inf name is free for two programs at once;
# - restart: a file that reads, writes or adds to the prefix's list of
#   deletions at the next restart: a case that writes the whole list (its
#   forms, an unreadable one) or puts it back as it was would take another
#   program's scheduled deletion with it.
set(KYD_SHARED_LOCKS exports services devices restart)
set(KYD_SHARED_LOCK_exports "StagedHost|FootprintHost|pkghost|DrvUninst_|CloseAutoUpdateDrv")
set(KYD_SHARED_LOCK_services "TestService")
set(KYD_SHARED_LOCK_devices
    "SeededDevice|DevicePresent|PresentDevicesWithId|ForEachPresentDevice|SeededInf|FreeOemInfName|DeviceToolBuildFile")
set(KYD_SHARED_LOCK_restart "machine/pending.h|PendingFileRenameOperations|ScheduledDeletions|kAtRestart")

# One test program per product folder; one ctest entry per test suite and
# prefix (each suite runs in a process of its own). Suites whose name ends in
# "W64" run only in the 64-bit prefix, "W32" only in the 32-bit one.
function(kyd_test_program folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(exe test_${folder})
  add_executable(${exe} ${sources} ${CMAKE_SOURCE_DIR}/tests/support/gtest_main.cc)
  target_link_libraries(${exe} PRIVATE kydsupport kydcore gtest)
  target_compile_options(${exe} PRIVATE ${KYD_GBK_OPTION})
  add_dependencies(${exe} dist ${KYD_HELPERS})
  set(suites "")
  foreach(lock ${KYD_SHARED_LOCKS})
    set(sharing_${lock} "")
  endforeach()
  foreach(src ${sources})
    file(STRINGS ${src} lines REGEX "^(TEST|TEST_F|TEST_P)\\(")
    set(file_suites "")
    foreach(line ${lines})
      string(REGEX REPLACE "^TEST[_A-Z]*\\(([A-Za-z0-9_]+),.*" "\\1" suite "${line}")
      list(APPEND file_suites ${suite})
    endforeach()
    list(APPEND suites ${file_suites})
    foreach(lock ${KYD_SHARED_LOCKS})
      file(STRINGS ${src} hits REGEX "${KYD_SHARED_LOCK_${lock}}")
      if(hits)
        list(APPEND sharing_${lock} ${file_suites})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES suites)
  foreach(suite ${suites})
    # Suites named Footprint... run in the footprint prefixes; the suite
    # "Footprint" itself gets one entry per footprint file.
    if(suite MATCHES "^Footprint")
      set(pfxs fp64 fp32)
    else()
      set(pfxs w64 w32)
    endif()
    set(entries "${suite}")
    if(suite STREQUAL "Footprint")
      file(GLOB fpfiles CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/footprints/*.fp)
      set(entries "")
      foreach(fpfile ${fpfiles})
        get_filename_component(stem ${fpfile} NAME_WE)
        list(APPEND entries "${suite}.${stem}")
      endforeach()
    endif()
    foreach(pfx ${pfxs})
      if(pfx MATCHES "64$" AND suite MATCHES "W32$")
        continue()
      endif()
      if(pfx MATCHES "32$" AND suite MATCHES "W64$")
        continue()
      endif()
      string(TOUPPER ${pfx} pfxvar)
      string(REGEX REPLACE "^W" "" pfxvar ${pfxvar})
      foreach(entry ${entries})
        if(entry MATCHES "^Footprint\\.(.*)$")
          set(filter "*/Footprint.*/${CMAKE_MATCH_1}_*")
        else()
          set(filter "${suite}.*:${suite}/*:*/${suite}.*")
        endif()
        add_test(NAME ${pfx}.${folder}.${entry} COMMAND ${exe} --gtest_filter=${filter})
        set_tests_properties(${pfx}.${folder}.${entry} PROPERTIES
          FIXTURES_REQUIRED ${pfx}
          # Wine has a builtin difxapi.dll; our double beside a host must win.
          ENVIRONMENT "WINEPREFIX=${KYD_PREFIX${pfxvar}};WINEDLLOVERRIDES=difxapi=n,b"
          # A filter that selects nothing, or a crash, must not pass; nor
          # may a program that ends badly after its cases (wine-test.sh).
          PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9]"
          FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine-test: the program ended with exit code"
          TIMEOUT 600)
        set(locks "")
        foreach(lock ${KYD_SHARED_LOCKS})
          if(suite IN_LIST sharing_${lock} OR (lock STREQUAL "exports" AND folder STREQUAL "interface"))
            list(APPEND locks ${lock}-${pfx})
          endif()
        endforeach()
        if(pfx MATCHES "^fp")
          list(APPEND locks footprint-${pfx})
        endif()
        if(locks)
          set_tests_properties(${pfx}.${folder}.${entry} PROPERTIES RESOURCE_LOCK "${locks}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()

# The demo's story (scripts/demo.sh): the footprint bench and drvuninst on a
# vendor's footprint. Its dependencies are what the demo builds, no more.
add_executable(footprint_demo ${CMAKE_SOURCE_DIR}/tests/bench/footprint_demo.cpp)
target_link_libraries(footprint_demo PRIVATE kydsupport)
add_dependencies(footprint_demo dist sleeper testsvc netapi_double kydseed)

foreach(folder interface platform engine removal vendors packages xml)
  kyd_test_program(${folder})
endforeach()
add_dependencies(test_vendors footprint_demo)  # its FootprintDemo suite runs the demo's story
target_compile_definitions(test_packages PRIVATE KYD_REAL_PACKAGES_DIR="${KYD_REAL_PACKAGES}")

# Benchmark programs (not tests; scripts/bench-*.sh run them).
add_executable(deepclean_bench ${CMAKE_SOURCE_DIR}/tests/bench/deepclean_bench.cpp)
target_link_libraries(deepclean_bench PRIVATE kydsupport kydcore)
add_dependencies(deepclean_bench dist ${KYD_HELPERS})
# Staged by scripts/bench-removal.sh into a host folder beside the library.
add_executable(removal_bench ${CMAKE_SOURCE_DIR}/tests/bench/removal_bench.cpp)
target_link_libraries(removal_bench PRIVATE kydsupport kydcore)
add_dependencies(removal_bench dist)
