# The language table, the update list and the update run.
iv_test(test_langsys renewelrun)
iv_test(test_updaterun renewelrun SOURCES
  RecordingHost.cpp RecordingHost.h
  UpdateFixture.cpp UpdateFixture.h
  test_install.cpp
  test_nginx.cpp
  test_parallel.cpp
  test_paths.cpp
  test_run.cpp
  test_signed.cpp)
