# Chunk store: bytes an update needs per average chunk size, and chunking and compression speed.
add_executable(bench_chunk bench_chunk.cpp)
target_link_libraries(bench_chunk PRIVATE renewelchunk)
