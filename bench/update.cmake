# Whole update runs of renewel against aria2c and the curl tool, through a latency proxy of our own.
add_library(latencyproxy STATIC LatencyProxy.cpp LatencyProxy.h)
target_include_directories(latencyproxy PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(latencyproxy PUBLIC Qt6::Core)
add_executable(bench_update bench_update.cpp UpdateBenchSupport.cpp UpdateBenchSupport.h)
target_link_libraries(bench_update PRIVATE latencyproxy ivtestsupport)
add_dependencies(bench_update renewel)
