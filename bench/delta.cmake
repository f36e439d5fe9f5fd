# One big file's update: renewel against zsync, zchunk and casync through the latency proxy, with
# the link's bandwidth capped (the peers come from Debian: zsync, zchunk, casync).
add_executable(bench_delta bench_delta.cpp)
target_link_libraries(bench_delta PRIVATE latencyproxy updatebenchsupport benchcontent)
add_dependencies(bench_delta renewel renewel-publish)
