# Benchmarks that time the program (headless, or offscreen with its windows) against the
# simulator on a pseudo-terminal, in real time: plain harnesses, not Google Benchmark.
function(vek_sim_bench name source)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${source} ${CMAKE_CURRENT_LIST_DIR}/../tests/sim/sim_harness.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/sim)
  target_compile_definitions(${name} PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                             VEK_SIM_BINARY="$<TARGET_FILE:vek-transmitter-sim>")
  target_link_libraries(${name} PRIVATE ${ARGN})
  add_dependencies(${name} vek-transmitter-sim)
endfunction()

# Find Transmitter: a full scan of one port, and address 1 at the line setting tried last.
vek_sim_bench(vek_bench_scan bench_scan.cpp vek_app)
# The CPU a poll costs over a pseudo-terminal and over loopback TCP to each kind of gateway.
vek_sim_bench(vek_bench_poll_cpu bench_poll_cpu.cpp vek_app)
# Back up and restore of the set-up.
vek_sim_bench(vek_bench_restore bench_restore.cpp vek_app)
# How the windows answer while the program polls: click to shown during a poll's wait, the
# longest turn of the event loop, the polls while a message box is open.
vek_sim_bench(vek_bench_respond bench_respond.cpp vek_program)
