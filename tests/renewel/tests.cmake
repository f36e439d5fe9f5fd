# renewel's test programs, one folder per library.
iv_test(test_site renewelsite FOLDER renewel/site)
iv_test(test_trust reneweltrust FOLDER renewel/trust)
iv_test(test_chunk renewelchunk FOLDER renewel/chunk SOURCES
  ChunkTestData.h
  test_chunking.cpp
  test_chunkdelta.cpp
  test_chunksources.cpp
  test_chunkstore.cpp)
iv_test(test_httpget renewelnet FOLDER renewel/net)
iv_test(test_httppolicy renewelnet FOLDER renewel/net)
iv_test(test_downloadqueue renewelnet FOLDER renewel/net)
iv_test(test_langsys renewelrun FOLDER renewel/run)
iv_test(test_arguments renewelrun FOLDER renewel/run)
iv_test(test_installrecords renewelrun FOLDER renewel/run)
iv_test(test_failureline renewelrun FOLDER renewel/run)
iv_test(test_updaterun renewelrun publishrelease FOLDER renewel/run/updaterun SOURCES
  RecordingHost.cpp RecordingHost.h
  UpdateFixture.cpp UpdateFixture.h
  test_chunks.cpp
  test_figures.cpp
  test_install.cpp
  test_mirrors.cpp
  test_nginx.cpp
  test_parallel.cpp
  test_patches.cpp
  test_paths.cpp
  test_run.cpp
  test_signed.cpp
  test_switch.cpp)
iv_test(test_uihelpers renewelui FOLDER renewel/ui)
# The update window in process, and the renewel program run as a process.
iv_test(test_updatedlg renewelui ivassets FOLDER renewel/ui)
iv_test(test_renewel_process FOLDER renewel)
add_dependencies(test_renewel_process renewel renewel-publish)
