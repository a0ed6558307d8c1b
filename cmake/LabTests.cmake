# Tests against the lab's real peers (tests/lab/lab.sh; README "Test lab").
#
#   lumet_lab_test(<name> COMMAND <program> [args...]
#                  [OWN_LAB] [ASAN] [TIMEOUT <s>] [LABELS <labels...>]
#                  [ENVIRONMENT <VAR=value...>] [PROPERTIES <property value...>])
#
# By default the test runs in the lab that the lab tests of one ctest run
# share: the fixture "lab" (lab_up, lab_down in tests/lab) brings it up once in
# <build>/lab, and the shared tests run in it one at a time (RESOURCE_LOCK
# lab_peers) through tests/lab/shared.sh, which brings the lab up afresh after
# a failure. A shared test leaves the peers as it found them: a peer it stops
# it starts again, a renderer it plays on it stops.
#
# OWN_LAB: the test brings up a lab of its own for its run (lab.sh run, in
# <build>/lab-<name>), for tests that change what the others rely on (the
# media, the number of peers) or kill peers without restarting them at once.
# Such a lab is independent of the shared one and of every other, so the test
# runs beside the shared tests and the lab's own lifecycle test: lab tests
# spend most of their time waiting for peers and timers, not on the CPU.
#
# ASAN: the test also runs in the AddressSanitizer build's lab step (label
# lab_asan), because it reaches library lines that neither the unit tests
# (which all run under the sanitizers) nor the other ASAN lab tests reach; a
# line coverage build shows which. The sanitizer builds define no other lab
# test: a second run of the same lines against the same peers finds nothing
# new and costs the lab step's time again.
#
# Every lab test has the label "lab" (the lab step of scripts/test, with one
# retry).
function(lumet_lab_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_LAB;ASAN" "TIMEOUT" "COMMAND;LABELS;ENVIRONMENT;PROPERTIES")
  if(LUMET_SANITIZE AND NOT arg_ASAN)
    return()
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  set(labels lab ${arg_LABELS})
  if(arg_ASAN)
    list(APPEND labels lab_asan)
  endif()
  if(arg_OWN_LAB)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/lab/lab.sh run ${arg_COMMAND})
    set(environment LAB_DIR=${CMAKE_BINARY_DIR}/lab-${name} ${arg_ENVIRONMENT})
  else()
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/lab/shared.sh ${arg_COMMAND})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED lab RESOURCE_LOCK lab_peers)
    set(environment LAB_DIR=${CMAKE_BINARY_DIR}/lab ${arg_ENVIRONMENT})
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${arg_TIMEOUT} ${arg_PROPERTIES})
endfunction()
