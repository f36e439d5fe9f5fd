add_executable(bench_render bench_render.cpp)
target_link_libraries(bench_render PRIVATE thumbcore ivassets benchmark::benchmark)
