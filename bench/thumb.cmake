# thumb's command line against bare Qt programs and against one call per map, in the same run.
add_executable(bench_floor_core bench_floor.cpp)
target_link_libraries(bench_floor_core PRIVATE Qt6::Core)
add_executable(bench_floor_gui bench_floor.cpp)
target_compile_definitions(bench_floor_gui PRIVATE IV_FLOOR_LINKS_GUI)
target_link_libraries(bench_floor_gui PRIVATE Qt6::Core Qt6::Gui)

add_executable(bench_thumb bench_thumb.cpp)
target_link_libraries(bench_thumb PRIVATE thumbcore)
target_compile_definitions(bench_thumb PRIVATE IV_THUMB="$<TARGET_FILE:thumb>"
  IV_FLOOR_CORE="$<TARGET_FILE:bench_floor_core>" IV_FLOOR_GUI="$<TARGET_FILE:bench_floor_gui>")
add_dependencies(bench_thumb thumb bench_floor_core bench_floor_gui)
