# Streaming file hash (renewel repair) against the sha256sum tool on the same files.
add_executable(bench_hash bench_hash.cpp)
target_link_libraries(bench_hash PRIVATE reneweltrust)
