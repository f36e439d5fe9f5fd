# The language table, the update list and the update run.
iv_test(test_langsys renewelcore)
iv_test(test_updaterun renewelcore)
