# Run by ctest when it starts (see gtest_cases.cmake): lists the program's cases and adds a
# test for each, or for each suite. Given: program, emulator, prefix, filter, workdir,
# environment, fixtures.

# properties(NAME): the properties every test of the program shares.
macro(varel_case_properties name)
  set_tests_properties("${name}" PROPERTIES WORKING_DIRECTORY "${workdir}")
  if(environment)
    set_tests_properties("${name}" PROPERTIES ENVIRONMENT "${environment}")
  endif()
  if(fixtures)
    set_tests_properties("${name}" PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
endmacro()

if(NOT EXISTS "${program}")
  # Not built: one test that fails, naming the program.
  add_test("${prefix}NOT_BUILT" "${program}")
  return()
endif()

set(listing_command ${emulator} "${program}" --gtest_list_tests)
if(filter)
  list(APPEND listing_command "--gtest_filter=${filter}")
endif()
execute_process(COMMAND ${listing_command} WORKING_DIRECTORY "${workdir}"
                OUTPUT_VARIABLE listing ERROR_VARIABLE listing_error RESULT_VARIABLE listed
                TIMEOUT 900)
if(NOT listed EQUAL 0)
  # The listing failed: one test that runs it again, so that the reason is in its output.
  add_test("${prefix}LISTING" ${listing_command})
  varel_case_properties("${prefix}LISTING")
  return()
endif()

# The listing: "Suite." lines, each followed by "  Case" lines; parameterised ones carry
# a comment after "  # ". Windows programs end lines with CR LF.
string(REPLACE "\r" "" listing "${listing}")
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
set(suite "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " +#.*$" "" line "${line}")
  if(line MATCHES "^([^ ].*)\\.$")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set(cases_${suite} "")
  elseif(line MATCHES "^  ([^ ]+)$" AND suite)
    list(APPEND cases_${suite} "${suite}.${CMAKE_MATCH_1}")
  endif()
endforeach()

set(by_suite "$ENV{VAREL_TESTS_BY_SUITE}")
# A long suite is cut into parts of at most this many cases, so that parts run side by side.
set(part_size 6)
foreach(suite IN LISTS suites)
  if(by_suite)
    # Each part names its cases, so that the filter the listing used still holds.
    list(LENGTH cases_${suite} count)
    math(EXPR parts "(${count} + ${part_size} - 1) / ${part_size}")
    foreach(part RANGE 1 ${parts})
      math(EXPR first "(${part} - 1) * ${part_size}")
      list(SUBLIST cases_${suite} ${first} ${part_size} part_cases)
      string(REPLACE ";" ":" names "${part_cases}")
      set(name "${prefix}${suite}")
      if(parts GREATER 1)
        set(name "${name}/part${part}of${parts}")
      endif()
      add_test("${name}" ${emulator} "${program}" "--gtest_filter=${names}")
      varel_case_properties("${name}")
    endforeach()
  else()
    foreach(case IN LISTS cases_${suite})
      add_test("${prefix}${case}" ${emulator} "${program}" "--gtest_filter=${case}")
      varel_case_properties("${prefix}${case}")
      # A case that skips itself is counted as skipped, with its reason in the output.
      set_tests_properties("${prefix}${case}" PROPERTIES
                           SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\] 1 test")
    endforeach()
  endif()
endforeach()
