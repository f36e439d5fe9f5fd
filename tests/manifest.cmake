# Signed update lists (the manifest library), and renewel-publish run as a process.
iv_test(test_manifest reneweltrust)
iv_test(test_publish reneweltrust)
add_dependencies(test_publish renewel-publish)
