# What the monitoring costs: one poll cycle without its waits (Google Benchmark), and the
# program's start-up to its main window shown (a harness that launches it afresh each time).
add_executable(vek_bench_monitor ${CMAKE_CURRENT_LIST_DIR}/bench_monitor.cpp)
target_include_directories(vek_bench_monitor PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_compile_definitions(vek_bench_monitor PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}")
target_link_libraries(vek_bench_monitor PRIVATE vek_app vek_modbus vek_ui vek_test_doubles benchmark::benchmark)

add_executable(vek_bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
target_link_libraries(vek_bench_startup PRIVATE vek_program)

# One poll cycle with the Qt view attached, offscreen: the same rig plus the windows and
# their repaints.
add_executable(vek_bench_poll_view ${CMAKE_CURRENT_LIST_DIR}/bench_poll_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_bench_main.cpp)
target_include_directories(vek_bench_poll_view PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_compile_definitions(vek_bench_poll_view PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}")
target_link_libraries(vek_bench_poll_view PRIVATE vek_app vek_modbus vek_ui vek_ui_qt vek_test_doubles
                                                  benchmark::benchmark)
