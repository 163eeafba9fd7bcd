# What the trend chart holds the window up for on a 200,000-row log: a zoom step, and the
# longest turn of the event loop while the log is opened.
add_executable(vek_bench_trend ${CMAKE_CURRENT_LIST_DIR}/bench_trend.cpp ${CMAKE_CURRENT_LIST_DIR}/qt_bench_main.cpp)
target_link_libraries(vek_bench_trend PRIVATE vek_app vek_trend_window benchmark::benchmark)
