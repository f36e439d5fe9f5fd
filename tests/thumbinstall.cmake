# thumb installed into a staging folder and used as a desktop would.
iv_test(test_thumbinstall thumbcore ivassets)
target_compile_definitions(test_thumbinstall PRIVATE IV_CMAKE_COMMAND="${CMAKE_COMMAND}")
add_dependencies(test_thumbinstall thumb thumb_docs)
