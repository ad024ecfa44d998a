# Read by CTest when it starts (see kx_suite_tests in Tests/CMakeLists.txt): one CTest entry per
# test suite of a GoogleTest program, named PREFIX + the suite, that runs the suite's tests in
# one process. A program that is not built yet gets an entry that fails saying so.
#
# Variables: PROGRAM, PREFIX, LABEL, TIMEOUT, ENVIRONMENT (a list), WORKING_DIRECTORY,
# COST_DATA (CTest's record of earlier runs), LAUNCHER (a command that runs the program, or
# nothing), FULL_STACK_SUITES (suites run without the launcher).

if(NOT EXISTS "${PROGRAM}")
  add_test("${PREFIX}NOT_BUILT" "${CMAKE_COMMAND}" -E echo "${PROGRAM} is not built")
  set_tests_properties("${PREFIX}NOT_BUILT" PROPERTIES WILL_FAIL TRUE LABELS "${LABEL}")
  return()
endif()

execute_process(COMMAND "${PROGRAM}" --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE result TIMEOUT 120)
if(NOT result EQUAL 0)
  add_test("${PREFIX}LIST_FAILED" "${CMAKE_COMMAND}" -E echo "${PROGRAM} --gtest_list_tests failed: ${result}")
  set_tests_properties("${PREFIX}LIST_FAILED" PROPERTIES WILL_FAIL TRUE LABELS "${LABEL}")
  return()
endif()

# CTest starts the costliest entries first, by what they took before. The sanitized run of a
# new build folder has no record of its own yet: it takes the time of the same suite in the
# normal run (several times as long there, but in the same order), so that a long suite does
# not start last and run alone.
if(EXISTS "${COST_DATA}")
  file(STRINGS "${COST_DATA}" records REGEX "^[^ ]+ [0-9]+ [0-9.]+$")
  foreach(record IN LISTS records)
    string(REPLACE " " ";" fields "${record}")
    list(GET fields 0 recorded)
    list(GET fields 2 cost)
    string(REGEX REPLACE "^sanitized\\." "" recorded "${recorded}")
    if(NOT DEFINED "cost_${recorded}" OR cost GREATER "${cost_${recorded}}")
      set("cost_${recorded}" "${cost}")
    endif()
  endforeach()
endif()

# Suites are the lines that start in the first column ("Suite." or "Instance/Suite."); their
# tests follow, indented.
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.( |$)")
    set(suite "${CMAKE_MATCH_1}")
    set(name "${PREFIX}${suite}")
    set(launcher ${LAUNCHER})
    list(FIND FULL_STACK_SUITES "${suite}" full)
    if(full GREATER -1)
      set(launcher "")
    endif()
    add_test("${name}" ${launcher} "${PROGRAM}" "--gtest_filter=${suite}.*" --gtest_color=no)
    set_tests_properties("${name}" PROPERTIES
      LABELS "${LABEL}"
      TIMEOUT "${TIMEOUT}"
      WORKING_DIRECTORY "${WORKING_DIRECTORY}"
      ENVIRONMENT "${ENVIRONMENT}")
    if(DEFINED "cost_${suite}")
      set_tests_properties("${name}" PROPERTIES COST "${cost_${suite}}")
    endif()
  endif()
endforeach()
