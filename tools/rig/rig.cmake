# What the two rigs' builds share (tools/usb-rig, tools/bt-rig): the
# launcher in the build folder, the test program through a rig, and the
# end-to-end tests written against nxt-bridge-sim run through it. A rig is
# named by its folder (usb-rig, bt-rig), which is also its tests' label.

# build/LAUNCHER: the rig's launcher SCRIPT with this build's guest image,
# unless the environment's IMAGE_VARIABLE names another.
function(nxt_rig_launcher launcher script image_variable image_dir)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/${launcher}
    CONTENT "#!/bin/sh\n${image_variable}=\${${image_variable}:-${image_dir}} exec ${script} \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
endfunction()

# The test program TARGET from SOURCE through the rig RIG: one guest boot
# per test, one at a time. It finds nxt-bridge-sim as NXT_BRIDGE_SIM_PATH
# and the launcher as LAUNCHER_DEFINE.
function(nxt_add_rig_test_program rig target source launcher_define launcher image_target)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${target} ${source}
    ${PROJECT_SOURCE_DIR}/tools/rig/rig_test_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/e2e_harness.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    NXT_BRIDGE_SIM_PATH="$<TARGET_FILE:nxt-bridge-sim>"
    ${launcher_define}="${launcher}")
  add_dependencies(${target} ${image_target} nxt-bridge-sim)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS ${rig} RUN_SERIAL TRUE TIMEOUT 300)
endfunction()

# The end-to-end test PROGRAM, unchanged, through the rig RIG's LAUNCHER, as
# PROGRAM_through_usb_rig (or _bt_rig). LACKS names what the server behind
# the launcher cannot do (NXT_E2E_SERVER_LACKS in tests/e2e_harness.h): the
# cases that need it skip themselves. A run in which no case passed fails.
function(nxt_add_rig_e2e_test rig launcher program lacks)
  string(REPLACE "-" "_" suffix ${rig})
  add_test(NAME ${program}_through_${suffix} COMMAND ${program})
  set_tests_properties(${program}_through_${suffix} PROPERTIES
    ENVIRONMENT "NXT_E2E_SERVER=${launcher};NXT_E2E_START_SECONDS=180;NXT_E2E_SERVER_LACKS=${lacks}"
    FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests"
    LABELS ${rig} RUN_SERIAL TRUE TIMEOUT 600)
endfunction()
