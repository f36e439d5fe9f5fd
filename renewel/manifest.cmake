# renewelmanifest: SHA-256 hashing, the checksum list, minisign keys and signatures, acceptance
# of a signed update list, and renewel.stamp. Plain classes on OpenSSL's crypto library.
find_package(OpenSSL 3 REQUIRED)

set(IV_RENEWEL_MANIFEST
  ${CMAKE_CURRENT_SOURCE_DIR}/Manifest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Manifest.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Minisign.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Minisign.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Sha256.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Sha256.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Sums.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Sums.h
  ${CMAKE_CURRENT_SOURCE_DIR}/UpdateStamp.cpp ${CMAKE_CURRENT_SOURCE_DIR}/UpdateStamp.h)

add_library(renewelmanifest STATIC ${IV_RENEWEL_MANIFEST})
target_include_directories(renewelmanifest PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(renewelmanifest PUBLIC ivframeworkcore Qt6::Core OpenSSL::Crypto)
