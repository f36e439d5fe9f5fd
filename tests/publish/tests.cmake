# renewel-publish run as a process; its sites checked with the updater's own trust code. Its
# libraries are driven directly where no process is needed.
iv_test(test_publish publishpush publishverify publishrelease reneweltrust renewelchunk FOLDER publish
        SOURCES PublishFixture.h test_publish.cpp test_publish_chunks.cpp test_publish_site.cpp
        test_publish_library.cpp test_publish_checks.cpp test_publish_push.cpp
        test_publish_releases.cpp)
add_dependencies(test_publish renewel-publish)
