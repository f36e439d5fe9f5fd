# Signed update lists (the manifest library), and renewel-publish run as a process.
iv_test(test_manifest renewelmanifest)
iv_test(test_publish renewelmanifest)
add_dependencies(test_publish renewel-publish)
