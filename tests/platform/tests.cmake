# The platform layer below renewel and renewel-publish.
iv_test(test_platform ivplatform FOLDER platform)
