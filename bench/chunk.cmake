# Chunk store: bytes an update needs per average chunk size, and chunking and compression speed.
add_executable(bench_chunk bench_chunk.cpp)
target_link_libraries(bench_chunk PRIVATE renewelchunk)
# Game data for bench_publish_chunks.sh.
add_executable(bench_release_content bench_release_content.cpp)
target_link_libraries(bench_release_content PRIVATE Qt6::Core)
