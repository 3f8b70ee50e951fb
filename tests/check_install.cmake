# Installs the build into PREFIX and checks that each file is where users
# and udev look for it.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE notices)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
# A prefix whose rule udev does not read is told, with the way out.
string(FIND "${notices}" "udev does not read: sudo cp ${PREFIX}/lib/udev/rules.d/70-nxt-bridge.rules"
       told)
if(told EQUAL -1)
  message(FATAL_ERROR "no word on the udev rule's folder: ${notices}")
endif()
foreach(path bin/nxt-bridge bin/nxt-bridge-sim bin/nxt-bridge-bt
             lib/udev/rules.d/70-nxt-bridge.rules
             lib/systemd/system/nxt-bridge.socket lib/systemd/system/nxt-bridge.service
             lib/systemd/system/nxt-bridge-bt@.socket lib/systemd/system/nxt-bridge-bt@.service
             share/metainfo/nxt-bridge.metainfo.xml
             share/man/man1/nxt-bridge.1 share/man/man1/nxt-bridge-sim.1
             share/man/man1/nxt-bridge-bt.1)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/nxt-bridge-sim" --help RESULT_VARIABLE result OUTPUT_VARIABLE usage)
if(NOT result EQUAL 0 OR NOT usage MATCHES "--port")
  message(FATAL_ERROR "the installed nxt-bridge-sim does not run: ${result}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
