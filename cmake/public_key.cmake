# The update signer's public key compiled into the updater: a file of 66 bytes,
# 64 lower-case hexadecimal digits followed by CR LF.
set(VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE "${CMAKE_CURRENT_SOURCE_DIR}/keys/development/update-public-key.txt")
if(NOT VELMARCH_UPDATE_PUBLIC_KEY_FILE)
  if(CMAKE_BUILD_TYPE STREQUAL "Release")
    message(FATAL_ERROR "A Release build needs the publisher's key: set VELMARCH_UPDATE_PUBLIC_KEY_FILE.")
  endif()
  set(VELMARCH_UPDATE_PUBLIC_KEY_FILE "${VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE}" CACHE FILEPATH
      "Ed25519 public key of the update signer (64 lower-case hex digits, CR, LF)")
endif()
get_filename_component(_velmarch_key_file "${VELMARCH_UPDATE_PUBLIC_KEY_FILE}" ABSOLUTE)
if(_velmarch_key_file STREQUAL VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE)
  message(WARNING "Building with the DEVELOPMENT update key: for tests and demos only, never for release.")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_velmarch_key_file}")
file(READ "${_velmarch_key_file}" _velmarch_key_hex HEX)
string(LENGTH "${_velmarch_key_hex}" _velmarch_key_len)
if(NOT _velmarch_key_len EQUAL 132)
  message(FATAL_ERROR "${_velmarch_key_file} must hold exactly 66 bytes (64 hex digits, CR, LF).")
endif()
file(READ "${_velmarch_key_file}" _velmarch_key_text)
string(SUBSTRING "${_velmarch_key_text}" 0 64 _velmarch_key_digits)
if(NOT _velmarch_key_digits MATCHES "^[0-9a-f]+$" OR NOT _velmarch_key_hex MATCHES "0d0a$")
  message(FATAL_ERROR "${_velmarch_key_file} must hold 64 lower-case hex digits followed by CR LF.")
endif()
set(VELMARCH_GENERATED_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${VELMARCH_GENERATED_DIR}/embedded_public_key.h" CONTENT
"#pragma once
// Generated at configure time from the update signer's key file.
namespace velmarch::generated {
inline constexpr char kEmbeddedUpdatePublicKey[] = \"${_velmarch_key_digits}\\r\\n\";
}
")
