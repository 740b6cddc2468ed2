# The update signer's public key compiled into the updater: a file of 64
# lower-case hexadecimal digits followed by CR LF (or LF).
cmake_path(SET VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE NORMALIZE
           "${CMAKE_CURRENT_LIST_DIR}/../keys/development/update-public-key.txt")
if(CMAKE_BUILD_TYPE)
  set(_velmarch_build_kind "${CMAKE_BUILD_TYPE} build")
else()
  set(_velmarch_build_kind "build without CMAKE_BUILD_TYPE")
endif()
option(VELMARCH_ALLOW_DEVELOPMENT_KEY
  "Let an optimised build (Release, RelWithDebInfo, MinSizeRel) embed the development key: for tests and measurements only, never for a release" OFF)
if(NOT VELMARCH_UPDATE_PUBLIC_KEY_FILE AND (CMAKE_BUILD_TYPE STREQUAL "Debug" OR VELMARCH_ALLOW_DEVELOPMENT_KEY))
  set(VELMARCH_UPDATE_PUBLIC_KEY_FILE "${VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE}" CACHE FILEPATH
      "Ed25519 public key of the update signer (64 lower-case hex digits, CR, LF)")
endif()
if(NOT VELMARCH_UPDATE_PUBLIC_KEY_FILE)
  message(FATAL_ERROR "A ${_velmarch_build_kind} needs the publisher's key: set VELMARCH_UPDATE_PUBLIC_KEY_FILE.")
endif()
get_filename_component(_velmarch_key_file "${VELMARCH_UPDATE_PUBLIC_KEY_FILE}" ABSOLUTE)
file(READ "${VELMARCH_DEVELOPMENT_PUBLIC_KEY_FILE}" _velmarch_development_key)
if(NOT EXISTS "${_velmarch_key_file}")
  message(FATAL_ERROR "The update key file ${_velmarch_key_file} does not exist "
                      "(velmarch-sign keygen --out KEY.pem --public-out FILE makes one).")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_velmarch_key_file}")
# 64 lower-case hex digits and a line end: CR LF (66 bytes) as written by
# velmarch-sign, or a plain LF (65 bytes) as an editor or `echo` leaves it.
file(READ "${_velmarch_key_file}" _velmarch_key_hex HEX)
string(LENGTH "${_velmarch_key_hex}" _velmarch_key_len)
file(READ "${_velmarch_key_file}" _velmarch_key_text)
string(SUBSTRING "${_velmarch_key_text}" 0 64 _velmarch_key_digits)
if(NOT ((_velmarch_key_len EQUAL 132 AND _velmarch_key_hex MATCHES "0d0a$") OR
        (_velmarch_key_len EQUAL 130 AND _velmarch_key_hex MATCHES "0a$"))
   OR NOT _velmarch_key_digits MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "${_velmarch_key_file} must hold 64 lower-case hex digits followed by CR LF or LF "
                      "(velmarch-sign public-key --key KEY.pem --public-out FILE writes one).")
endif()
string(SUBSTRING "${_velmarch_development_key}" 0 64 _velmarch_development_digits)
set(VELMARCH_DEVELOPMENT_PUBLIC_KEY_DIGITS "${_velmarch_development_digits}")
# Compared by the digits, so that a copy of the development key is caught too.
set(VELMARCH_EMBEDS_DEVELOPMENT_KEY OFF)
if(_velmarch_key_digits STREQUAL _velmarch_development_digits)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug" AND NOT VELMARCH_ALLOW_DEVELOPMENT_KEY)
    message(FATAL_ERROR "The development update key is refused for a ${_velmarch_build_kind}: "
                        "set VELMARCH_UPDATE_PUBLIC_KEY_FILE to the publisher's key (or, for tests only, "
                        "VELMARCH_ALLOW_DEVELOPMENT_KEY=ON).")
  endif()
  message(WARNING "Building with the DEVELOPMENT update key: for tests and demos only, never for release.")
  set(VELMARCH_EMBEDS_DEVELOPMENT_KEY ON)
endif()
# The key header of the configured key, and one of the development key for
# the test programs, which sign their packages with its private half.
function(_velmarch_write_key_header directory digits)
  file(CONFIGURE OUTPUT "${directory}/embedded_public_key.h" CONTENT
"#pragma once
// Generated at configure time from the update signer's key file.
namespace velmarch::generated {
inline constexpr char kEmbeddedUpdatePublicKey[] = \"${digits}\\r\\n\";
}
")
endfunction()
set(VELMARCH_GENERATED_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
set(VELMARCH_DEVELOPMENT_GENERATED_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated-development-key")
_velmarch_write_key_header("${VELMARCH_GENERATED_DIR}" "${_velmarch_key_digits}")
_velmarch_write_key_header("${VELMARCH_DEVELOPMENT_GENERATED_DIR}" "${_velmarch_development_digits}")

# Compiles the update signer's key into `target`: the configured key, or with
# DEVELOPMENT the development key (test programs only).
function(velmarch_embed_update_key target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "DEVELOPMENT" "" "")
  target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/trust/embedded_update_key.cpp")
  if(arg_DEVELOPMENT)
    target_include_directories(${target} PRIVATE "${VELMARCH_DEVELOPMENT_GENERATED_DIR}")
  else()
    target_include_directories(${target} PRIVATE "${VELMARCH_GENERATED_DIR}")
  endif()
endfunction()
