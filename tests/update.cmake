iv_test(test_langsys renewelcore)
