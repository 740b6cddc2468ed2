# GoogleTest for the MinGW-w64 cross build. Debian's libgtest-dev holds
# libraries built for the build machine only, so a Windows test executable
# cannot link them; Debian's googletest package ships the sources for exactly
# this case (/usr/src/googletest), built here with the cross compiler. Native
# builds find the packaged library with find_package(GTest) instead.
set(VELMARCH_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest sources built for the cross build (Debian package googletest)")
if(NOT EXISTS "${VELMARCH_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources in ${VELMARCH_GOOGLETEST_SOURCE_DIR}: "
                      "scripts/install-deps windows installs them (package googletest).")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory("${VELMARCH_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
