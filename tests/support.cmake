# The fault server's own features that the network tests build on.
iv_test(test_faultserver)
