# Signed update lists (the manifest library), and renewel-publish run as a process.
iv_test(test_manifest renewelmanifest)
