# GoogleTest: the system's package natively; Debian's sources built by the cross
# compiler for the Windows test executables (they run under Wine).
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(ORV_GTEST_LIBS GTest::gtest GTest::gmock)
  set(ORV_GTEST_MAIN GTest::gtest_main)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
  set(ORV_GTEST_LIBS GTest::gtest GTest::gmock)
  set(ORV_GTEST_MAIN GTest::gtest_main)
endif()

# Test executables and the test modules they load share one folder, so that a module
# looked for "beside the plug-in" (the executable, in tests) is found there.
set(ORV_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/testbin)

# orv_add_test(name SOURCES a.cpp ... LIBS lib ... [NO_MAIN] [LABELS l ...])
# Cross builds run the executable through the emulator (Wine) that the toolchain names.
function(orv_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  orv_target_defaults(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ORV_TEST_BIN_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${ORV_GTEST_LIBS} Threads::Threads)
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${ORV_GTEST_MAIN})
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${ORV_TEST_BIN_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# orv_add_pe_check(name TARGET target [check-pe options ...])
# Windows builds only: checks the built file of a target without running it (machine, no
# MinGW runtime DLL, exact export names, resources), so what only the 32-bit build shows is
# covered where 32-bit programs cannot run. Label built-file.
function(orv_add_pe_check name)
  cmake_parse_arguments(P "" "TARGET" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(machine amd64)
  else()
    set(machine i386)
  endif()
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/check-pe $<TARGET_FILE:${P_TARGET}> --machine ${machine}
            ${P_UNPARSED_ARGUMENTS})
  set_tests_properties(${name} PROPERTIES LABELS built-file TIMEOUT 60)
endfunction()
