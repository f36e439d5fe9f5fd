# The fault server's own features that the network tests build on.
include_guard(GLOBAL)
iv_test(test_faultserver)
