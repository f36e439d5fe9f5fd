iv_test(test_httpget renewelnet)
