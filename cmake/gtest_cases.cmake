# Registers a GoogleTest program's cases with ctest when ctest starts, never when the
# program is built: building then runs no test program, which on some machines runs only
# under an emulator, or (Windows programs) only under Wine in a VM.
#
#   varel_gtest_cases(TARGET [PREFIX p] [FILTER f] WORKING_DIRECTORY dir
#                     [ENVIRONMENT var=value] [FIXTURES_REQUIRED fixture])
#
# One ctest test a case, named PREFIX + Suite.Case, as gtest_discover_tests names them. With
# VAREL_TESTS_BY_SUITE=1 in ctest's environment, one test a suite instead (PREFIX + Suite,
# or Suite/partIofN for a long one), which runs its cases in one process: where every
# process start is costly (Wine in a VM), that saves a start per case. Each case's result is in the test's output either way.
function(varel_gtest_cases target)
  cmake_parse_arguments(arg "" "PREFIX;FILTER;WORKING_DIRECTORY;ENVIRONMENT;FIXTURES_REQUIRED"
                        "" ${ARGN})
  string(MAKE_C_IDENTIFIER "${target}_${arg_PREFIX}" id)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${id}_cases.cmake")
  set(emulator "")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  file(GENERATE OUTPUT "${script}" CONTENT "\
set(program [==[$<TARGET_FILE:${target}>]==])
set(emulator [==[${emulator}]==])
set(prefix [==[${arg_PREFIX}]==])
set(filter [==[${arg_FILTER}]==])
set(workdir [==[${arg_WORKING_DIRECTORY}]==])
set(environment [==[${arg_ENVIRONMENT}]==])
set(fixtures [==[${arg_FIXTURES_REQUIRED}]==])
include([==[${CMAKE_SOURCE_DIR}/cmake/gtest_cases_list.cmake]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
