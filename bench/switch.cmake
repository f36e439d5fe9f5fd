# How long an installation is mixed while a release is switched in, against rsync --delay-updates
# on the same two releases: bench_switch.py, run by `cmake --build build/release --target bench_switch`.
add_custom_target(bench_switch
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/bench_switch.py ${PROJECT_BINARY_DIR}
  DEPENDS renewel
  USES_TERMINAL)
