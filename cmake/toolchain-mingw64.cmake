# Cross-compiling for 64-bit Windows with MinGW-w64 (the POSIX threading
# variant, whose libstdc++ has std::thread and friends), running the results
# under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMARCH_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMARCH_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMARCH_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMARCH_MINGW_TRIPLET}-windres)

get_filename_component(_velmarch_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
# Each build tree runs its tests in a Wine prefix of its own: a prefix shared
# with other trees (other clones, other sessions) shares its wineserver, with
# its start-up and shut-down, with whatever else runs there at the same time.
set(CMAKE_CROSSCOMPILING_EMULATOR env "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix"
    "${_velmarch_source_dir}/scripts/wine-run")

# libcrypto cross-built by scripts/build-openssl-mingw: taken from
# OPENSSL_ROOT_DIR when given, else from VELMARCH_OPENSSL_MINGW_DIR, else from
# the script, which owns the cache and its key (it answers at once from the
# cache, and builds on first use). Asked again on every configure and not
# kept in the CMake cache, so that a build never holds on to a library of an
# older recipe.
# Build trees configured before kept the script's answer in the cache: that
# entry is dropped, so that they are asked again too.
if(DEFINED CACHE{OPENSSL_ROOT_DIR})
  get_property(_velmarch_help CACHE OPENSSL_ROOT_DIR PROPERTY HELPSTRING)
  if(_velmarch_help STREQUAL "Prefix of the MinGW-w64 OpenSSL build")
    unset(OPENSSL_ROOT_DIR CACHE)
  endif()
endif()
if(NOT OPENSSL_ROOT_DIR AND DEFINED ENV{VELMARCH_OPENSSL_MINGW_DIR})
  set(OPENSSL_ROOT_DIR "$ENV{VELMARCH_OPENSSL_MINGW_DIR}")
endif()
get_property(_velmarch_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT OPENSSL_ROOT_DIR AND NOT _velmarch_in_try_compile)
  execute_process(
    COMMAND "${_velmarch_source_dir}/scripts/build-openssl-mingw"
    OUTPUT_VARIABLE _velmarch_openssl_output
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _velmarch_openssl_status)
  if(NOT _velmarch_openssl_status EQUAL 0)
    message(FATAL_ERROR "scripts/build-openssl-mingw failed (${_velmarch_openssl_status}).")
  endif()
  string(REGEX REPLACE ".*\n" "" OPENSSL_ROOT_DIR "${_velmarch_openssl_output}")
  # What FindOpenSSL found in another prefix (an older recipe) is searched again.
  foreach(_velmarch_var LIB_EAY SSL_EAY OPENSSL_INCLUDE_DIR)
    if(DEFINED CACHE{${_velmarch_var}})
      string(FIND "$CACHE{${_velmarch_var}}" "${OPENSSL_ROOT_DIR}/" _velmarch_at)
      if(NOT _velmarch_at EQUAL 0)
        unset(${_velmarch_var} CACHE)
      endif()
    endif()
  endforeach()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VELMARCH_MINGW_TRIPLET} ${OPENSSL_ROOT_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
