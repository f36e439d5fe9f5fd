iv_test(test_controls ivcontrols ivassets)
