# The language table, the update list and the update run.
iv_test(test_langsys renewelcore)
iv_test(test_updaterun renewelcore SOURCES
  RecordingHost.cpp RecordingHost.h
  UpdateFixture.cpp UpdateFixture.h
  test_install.cpp
  test_nginx.cpp
  test_parallel.cpp
  test_paths.cpp
  test_run.cpp
  test_signed.cpp)
