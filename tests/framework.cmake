iv_test(test_framework ivframework)
