# Find Transmitter in real time against the simulator on a pseudo-terminal: a full scan of
# one port, and address 1 at the line setting tried last. A plain harness, since it times
# another process over a pseudo-terminal for minutes.
add_executable(vek_bench_scan
  ${CMAKE_CURRENT_LIST_DIR}/bench_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/sim/sim_harness.cpp
)
target_include_directories(vek_bench_scan PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/sim)
target_compile_definitions(vek_bench_scan PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                                  VEK_SIM_BINARY="$<TARGET_FILE:vek-transmitter-sim>")
target_link_libraries(vek_bench_scan PRIVATE vek_app)
add_dependencies(vek_bench_scan vek-transmitter-sim)

# Back up and restore of the set-up in real time against the simulator.
add_executable(vek_bench_restore
  ${CMAKE_CURRENT_LIST_DIR}/bench_restore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/sim/sim_harness.cpp
)
target_include_directories(vek_bench_restore PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/sim)
target_compile_definitions(vek_bench_restore PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                                     VEK_SIM_BINARY="$<TARGET_FILE:vek-transmitter-sim>")
target_link_libraries(vek_bench_restore PRIVATE vek_app)
add_dependencies(vek_bench_restore vek-transmitter-sim)

# How the windows answer while the program polls the simulator: click to shown during a
# poll's wait, the longest turn of the event loop, the polls while a message box is open.
add_executable(vek_bench_respond
  ${CMAKE_CURRENT_LIST_DIR}/bench_respond.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/sim/sim_harness.cpp
)
target_include_directories(vek_bench_respond PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/sim)
target_compile_definitions(vek_bench_respond PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                                     VEK_SIM_BINARY="$<TARGET_FILE:vek-transmitter-sim>")
target_link_libraries(vek_bench_respond PRIVATE vek_program)
add_dependencies(vek_bench_respond vek-transmitter-sim)
