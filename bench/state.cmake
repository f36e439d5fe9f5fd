# renewel's comparison by content (the installed-state record) and its quiet start-up, timed by
# bench_state.py against sha256sum and a bare Qt Widgets window.
add_executable(bench_window_floor bench_window_floor.cpp)
target_link_libraries(bench_window_floor PRIVATE Qt6::Widgets)
