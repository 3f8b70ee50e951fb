# What the two rigs' builds share (tools/usb-rig, tools/bt-rig). A rig is
# named by its folder (usb-rig, bt-rig), which is also its tests' label, the
# name of its image's folder in the build and of its launcher
# (nxt-bridge-usb-rig, nxt-bridge-bt-rig) and of the variable that names
# another image to the launcher (NXT_USB_RIG_IMAGE, NXT_BT_RIG_IMAGE).
#
#   nxt_add_rig(RIG DESCRIPTION "..." SERVER TARGET BRICK TARGET
#               [IMAGE_OPTIONS OPTION...] TEST_SOURCE FILE LACKS WORDS)
#
# Called from the rig's folder, which holds the guest's script guest-init
# and the launcher script nxt-bridge-RIG. It makes:
# - the target RIG-image: the guest in build/RIG (vmlinuz, initramfs.cpio.gz)
#   made by tools/rig/build-image: kernel, modules and busybox from
#   Debian's packages (one cache, build/rig-cache, for both rigs),
#   guest-init as /init, the programs SERVER and BRICK as /usr/bin/NAME and
#   the rig's own IMAGE_OPTIONS (modules, further programs, links). BRICK is
#   also copied beside the image, where the launcher checks the brick's
#   options before it boots the guest. Rebuilt when either program,
#   build-image or the guest's script changes;
# - build/nxt-bridge-RIG: the launcher with this build's image, unless the
#   image variable (NXT_USB_RIG_IMAGE, ...) in the environment names another;
# - with the tests: the test program TEST_SOURCE through the rig (one guest
#   boot per test, one at a time; it finds nxt-bridge-sim as
#   NXT_BRIDGE_SIM_PATH and the launcher as NXT_RIG_PATH), and the
#   end-to-end tests written against nxt-bridge-sim run unchanged through
#   the launcher. LACKS names what the server behind the launcher cannot do
#   (NXT_E2E_SERVER_LACKS in tests/e2e_harness.h): the cases that need it
#   skip themselves; a run in which no case passed fails.
function(nxt_add_rig rig)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;SERVER;BRICK;TEST_SOURCE;LACKS"
    "IMAGE_OPTIONS")
  string(REPLACE "-" "_" suffix ${rig})
  string(TOUPPER "NXT_${suffix}_IMAGE" image_variable)
  set(image_dir ${CMAKE_BINARY_DIR}/${rig})
  set(build_image ${PROJECT_SOURCE_DIR}/tools/rig/build-image)
  set(guest_init ${CMAKE_CURRENT_SOURCE_DIR}/guest-init)

  add_custom_command(
    OUTPUT ${image_dir}/initramfs.cpio.gz ${image_dir}/vmlinuz
    COMMAND ${build_image}
      --out ${image_dir}
      --cache ${CMAKE_BINARY_DIR}/rig-cache
      --init ${guest_init}
      --program $<TARGET_FILE:${arg_SERVER}>=/usr/bin/${arg_SERVER}
      --program $<TARGET_FILE:${arg_BRICK}>=/usr/bin/${arg_BRICK}
      ${arg_IMAGE_OPTIONS}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${arg_BRICK}> ${image_dir}/${arg_BRICK}
    DEPENDS ${arg_SERVER} ${arg_BRICK} ${build_image} ${guest_init}
    COMMENT "Building the ${arg_DESCRIPTION}'s guest image"
    VERBATIM)
  add_custom_target(${rig}-image ALL DEPENDS ${image_dir}/initramfs.cpio.gz)

  set(launcher ${CMAKE_BINARY_DIR}/nxt-bridge-${rig})
  file(GENERATE OUTPUT ${launcher}
    CONTENT "#!/bin/sh\n${image_variable}=\${${image_variable}:-${image_dir}} exec ${CMAKE_CURRENT_SOURCE_DIR}/nxt-bridge-${rig} \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)

  if(NOT NXT_BUILD_TESTS)
    return()
  endif()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(target ${suffix}_test)
  add_executable(${target} ${arg_TEST_SOURCE}
    ${PROJECT_SOURCE_DIR}/tools/rig/rig_test_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/e2e_harness.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    NXT_BRIDGE_SIM_PATH="$<TARGET_FILE:nxt-bridge-sim>"
    NXT_RIG_PATH="${launcher}")
  add_dependencies(${target} ${rig}-image nxt-bridge-sim)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS ${rig} RUN_SERIAL TRUE TIMEOUT 300)

  foreach(program e2e_server_test e2e_sensor_test e2e_motor_test)
    add_test(NAME ${program}_through_${suffix} COMMAND ${program})
    set_tests_properties(${program}_through_${suffix} PROPERTIES
      ENVIRONMENT "NXT_E2E_SERVER=${launcher};NXT_E2E_START_SECONDS=180;NXT_E2E_SERVER_LACKS=${arg_LACKS}"
      FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests"
      LABELS ${rig} RUN_SERIAL TRUE TIMEOUT 600)
  endforeach()
endfunction()
