iv_test(test_picture ivframework)
