iv_test(test_httpget httpget)
