# The unit tests that need nothing of a POSIX system, built for Windows.
foreach(test little_endian interpreter link brick_telegrams output_telegrams input_telegrams
             motor_handler sensor_handler)
  nxt_add_test(${test}_test SOURCES ${test}_test.cpp LIBS nxt_interpreter nxt_transport_sim)
endforeach()
foreach(test sim_brick sim_outputs sim_inputs sim_files)
  nxt_add_test(${test}_test SOURCES ${test}_test.cpp LIBS nxt_sim)
endforeach()

nxt_add_test(sim_snapshot_test SOURCES sim_snapshot_test.cpp LIBS nxt_transport_sim)
nxt_add_test(transport_usb_test SOURCES transport_usb_test.cpp fake_libusb.cpp
  LIBS nxt_interpreter nxt_transport_usb nxt_sim)
# Linux only: server_loop_test stalls the echo with a pipe, bt_link_test
# reads frames from a socket pair; on Windows the loop, the echo and the
# frames are proven by the end-to-end suites against the .exe programs.
# sim_options_test makes its files with POSIX calls; view_messages_test
# talks to the page through POSIX sockets.
