# What the traffic monitor and the trend chart cost each poll: one poll cycle without its
# waits with the windows closed, and with them open on Qt's offscreen platform.
add_executable(vek_bench_traffic ${CMAKE_CURRENT_LIST_DIR}/bench_traffic.cpp ${CMAKE_CURRENT_LIST_DIR}/qt_bench_main.cpp)
target_include_directories(vek_bench_traffic PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_compile_definitions(vek_bench_traffic PRIVATE VEK_BINARY_DIR="${CMAKE_BINARY_DIR}")
target_link_libraries(vek_bench_traffic PRIVATE vek_app vek_tools_qt vek_trend_window vek_test_doubles benchmark::benchmark)
