iv_test(test_picture ivframework)
iv_test(test_maprecord thumbcore)
iv_test(test_render thumbcore ivassets)
