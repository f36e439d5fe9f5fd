# The update window in process, and the renewel program run as a process.
iv_test(test_updatedlg renewelui ivassets)
iv_test(test_renewel_process)
add_dependencies(test_renewel_process renewel renewel-publish)
