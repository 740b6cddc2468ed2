# libcrypto as one target. Native builds use the system's OpenSSL; the Windows
# build points OPENSSL_ROOT_DIR at the cross-built static library.
if(WIN32)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
add_library(velmarch_openssl INTERFACE)
target_link_libraries(velmarch_openssl INTERFACE OpenSSL::Crypto)
if(WIN32)
  target_link_libraries(velmarch_openssl INTERFACE ws2_32 crypt32 bcrypt)
  # The cross-built libcrypto's C is link-time-optimisation objects compiled
  # for size (scripts/build-openssl-mingw): every program linking it
  # optimises it at the link, for size as well.
  target_link_options(velmarch_openssl INTERFACE -flto -Os)
endif()
