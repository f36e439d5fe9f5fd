# The thumbnail clients of the desktops, run for real on thumb's thumbnailer entry (Debian's
# python3 with python3-gi drives them). Exit status 77 means skipped (the client is missing, or
# the test needs root).
set(IV_CLIENT_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/clients)
add_test(NAME thumb_client_tumbler
  COMMAND dbus-run-session -- /usr/bin/python3 ${IV_CLIENT_TESTS}/test_tumbler.py ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
add_test(NAME thumb_client_gnome
  COMMAND /usr/bin/python3 ${IV_CLIENT_TESTS}/test_gnome_factory.py ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR})
set_tests_properties(thumb_client_tumbler thumb_client_gnome PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
# The GNOME test installs and removes the system's ironvale-thumb package: never two at once.
set_tests_properties(thumb_client_gnome PROPERTIES RESOURCE_LOCK ironvale-thumb-package)

# KDE's: a Qt 5 program asks KIO::PreviewJob for previews, as Dolphin does, and KIO's thumbnail
# worker loads the plugin from the build's plugins folder. Built with the plugin.
if(TARGET ironvale-map-thumbnail)
  add_executable(test_kio_preview ${IV_CLIENT_TESTS}/test_kio_preview.cpp)
  target_link_libraries(test_kio_preview PRIVATE thumbpreview_qt5 KF5::KIOWidgets Qt5::Test)
  target_compile_definitions(test_kio_preview PRIVATE IV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    IV_PLUGIN_DIR="${PROJECT_BINARY_DIR}/plugins")
  add_dependencies(test_kio_preview ironvale-map-thumbnail)
  add_test(NAME thumb_client_kio COMMAND test_kio_preview)
  set_tests_properties(thumb_client_kio PROPERTIES TIMEOUT 300)
endif()
