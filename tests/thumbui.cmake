iv_test(test_thumbwindow thumbui ivassets)
