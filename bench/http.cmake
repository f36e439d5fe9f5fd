# Download benchmarks against curl's command-line tool on the same nginx in the same run.
add_executable(bench_http bench_http.cpp)
target_link_libraries(bench_http PRIVATE renewelnet ivtestsupport)
