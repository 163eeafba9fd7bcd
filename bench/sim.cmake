# Simulator turnaround benchmark: a plain harness rather than Google Benchmark, because it
# times another process through a pseudo-terminal and reports median and 99th percentile.
add_executable(vek_bench_sim_turnaround
  ${CMAKE_CURRENT_LIST_DIR}/sim_turnaround.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/sim/sim_harness.cpp
)
target_include_directories(vek_bench_sim_turnaround PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/sim)
target_link_libraries(vek_bench_sim_turnaround PRIVATE vek_crc)
target_compile_definitions(vek_bench_sim_turnaround PRIVATE VEK_SIM_BINARY="$<TARGET_FILE:vek-transmitter-sim>")
add_dependencies(vek_bench_sim_turnaround vek-transmitter-sim)
