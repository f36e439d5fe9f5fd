# renewel-publish run as a process; its sites checked with the updater's own trust code.
iv_test(test_publish reneweltrust renewelchunk FOLDER publish SOURCES PublishFixture.h test_publish.cpp
        test_publish_chunks.cpp test_publish_site.cpp)
add_dependencies(test_publish renewel-publish)
