# What the Windows build adds to the platform library and the executable.

include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake)

# Every Windows header sees the same API level and names.
target_compile_definitions(velmarch_native_platform PUBLIC
  UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# advapi32: security descriptors; bcrypt: random bytes where ProcessPrng is
# missing (bcryptprimitives.dll is loaded at run time, not linked).
target_link_libraries(velmarch_native_platform PUBLIC advapi32 bcrypt)

# GCC 12 in C++23 mode defines std::type_info::operator== inline in every
# object that compares type_info, while MinGW's static libstdc++ also exports
# it (GCC bug 110572, fixed in GCC 13): a static link then sees two identical
# definitions. Linking with GCC 13 or later makes this unnecessary.
if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_link_options(velmarch_native_platform INTERFACE -Wl,--allow-multiple-definition)
endif()

# The updater executable: windowless (GUI subsystem, no window is created),
# linked statically so that it needs system DLLs only.
function(velmarch_windows_executable target)
  target_link_options(${target} PRIVATE -static -mwindows)

  velmarch_add_windows_resources(${target})
endfunction()
