# Generated game data and its edits, shared by the chunk store's benchmarks.
add_library(benchcontent STATIC GameContent.cpp GameContent.h)
target_include_directories(benchcontent PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(benchcontent PUBLIC Qt6::Core)
# Chunk store: bytes an update needs per average chunk size, and chunking and compression speed.
add_executable(bench_chunk bench_chunk.cpp)
target_link_libraries(bench_chunk PRIVATE renewelchunk benchcontent)
# Game data for bench_publish_chunks.sh.
add_executable(bench_release_content bench_release_content.cpp)
target_link_libraries(bench_release_content PRIVATE benchcontent)
