# Whole update runs of renewel against aria2c and the curl tool, through a latency proxy of our own.
add_library(latencyproxy STATIC LatencyProxy.cpp LatencyProxy.h)
target_include_directories(latencyproxy PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(latencyproxy PUBLIC Qt6::Core)
# Sites, installations and timed runs of renewel and the peers, shared by bench_update and bench_delta.
add_library(updatebenchsupport STATIC UpdateBenchSupport.cpp UpdateBenchSupport.h)
target_include_directories(updatebenchsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(updatebenchsupport PUBLIC ivtestsupport)
add_executable(bench_update bench_update.cpp)
target_link_libraries(bench_update PRIVATE latencyproxy updatebenchsupport)
add_dependencies(bench_update renewel)
