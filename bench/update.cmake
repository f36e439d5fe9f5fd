# Whole update runs of renewel against aria2c and the curl tool, through a latency proxy of our own.
add_library(latencyproxy STATIC LatencyProxy.cpp LatencyProxy.h)
target_include_directories(latencyproxy PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(latencyproxy PUBLIC Qt6::Core)
add_library(updatebenchsupport STATIC UpdateBenchSupport.cpp UpdateBenchSupport.h)
target_include_directories(updatebenchsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(updatebenchsupport PUBLIC ivtestsupport Qt6::Core)
add_executable(bench_update bench_update.cpp)
target_link_libraries(bench_update PRIVATE latencyproxy updatebenchsupport)
add_dependencies(bench_update renewel)
# A big file updated from the chunk store by renewel against zsync, through the same proxy.
add_executable(bench_chunkupdate bench_chunkupdate.cpp)
target_link_libraries(bench_chunkupdate PRIVATE latencyproxy updatebenchsupport renewelchunk renewelsite)
add_dependencies(bench_chunkupdate renewel)
