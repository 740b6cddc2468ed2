# What the Windows build adds to the platform library and the executable.

include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake)

# Every Windows header sees the same API level and names.
target_compile_definitions(velmarch_native_platform PUBLIC
  UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# advapi32: security descriptors; ntdll: opens relative to a held directory
# (both known DLLs, always taken from System32; ntdll is in every process).
target_link_libraries(velmarch_native_platform PUBLIC advapi32 ntdll)

# bcrypt.dll (random bytes where ProcessPrng is missing, and libcrypto's
# seeding) is not one of the system's known DLLs: imported the usual way, the
# loader would look for it next to the executable first, before
# make_native_platform has limited the search to System32. Imported lazily, it
# is loaded at its first use, from System32 only. This import library takes
# the place of the plain one everywhere, libcrypto's dependencies included.
# dlltool names the library's symbols after its output file name
# (__DELAY_IMPORT_DESCRIPTOR_<name>): a relative name keeps the build folder
# out of the executable, which a rebuild elsewhere must reproduce byte for byte.
set(_velmarch_delay_load_dir "${CMAKE_BINARY_DIR}/delay-load")
set(_velmarch_bcrypt_lib "${_velmarch_delay_load_dir}/libbcrypt_delayed.a")
file(CONFIGURE OUTPUT "${_velmarch_delay_load_dir}/bcrypt.def" CONTENT "LIBRARY bcrypt.dll\nEXPORTS\nBCryptGenRandom\n")
# dlltool leaves two empty temporary files in TMPDIR at every run (binutils
# 2.40): it gets a temporary folder of its own in the build, removed after.
set(_velmarch_dlltool_tmp "${_velmarch_delay_load_dir}/tmp")
file(MAKE_DIRECTORY "${_velmarch_dlltool_tmp}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "TMPDIR=${_velmarch_dlltool_tmp}"
          "${CMAKE_DLLTOOL}" --input-def bcrypt.def --output-delaylib libbcrypt_delayed.a
  WORKING_DIRECTORY "${_velmarch_delay_load_dir}"
  RESULT_VARIABLE _velmarch_dlltool_status)
file(REMOVE_RECURSE "${_velmarch_dlltool_tmp}")
if(NOT _velmarch_dlltool_status EQUAL 0)
  message(FATAL_ERROR "dlltool could not make the delay-load library for bcrypt.dll.")
endif()
target_link_libraries(velmarch_native_platform PUBLIC "${_velmarch_bcrypt_lib}")
get_target_property(_velmarch_openssl_libraries velmarch_openssl INTERFACE_LINK_LIBRARIES)
list(TRANSFORM _velmarch_openssl_libraries REPLACE "^bcrypt$" "${_velmarch_bcrypt_lib}")
set_property(TARGET velmarch_openssl PROPERTY INTERFACE_LINK_LIBRARIES "${_velmarch_openssl_libraries}")

# GCC 12 in C++23 mode defines std::type_info::operator== inline in every
# object that compares type_info, while MinGW's static libstdc++ also exports
# it (GCC bug 110572, fixed in GCC 13): a static link then sees two identical
# definitions. Linking with GCC 13 or later makes this unnecessary.
if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_link_options(velmarch_native_platform INTERFACE -Wl,--allow-multiple-definition)
endif()

# Every function and object in a section of its own, and the linker drops the
# unreferenced ones (libcrypto is built the same way).
# A Release build optimises our own code for size: the digest's time is spent
# in libcrypto's SHA-256 assembly, which this does not touch (measured under
# Wine: the same digest time, 0.3 MB less).
set(_velmarch_size_optimised $<$<CONFIG:Release>:-Os>)
foreach(_velmarch_layer IN LISTS VELMARCH_LAYER_LIBRARIES)
  target_compile_options(${_velmarch_layer} PRIVATE -ffunction-sections -fdata-sections ${_velmarch_size_optimised})
endforeach()
target_link_options(velmarch_native_platform INTERFACE -Wl,--gc-sections)

# The updater executable: windowless (GUI subsystem, no window is created),
# linked statically so that it needs system DLLs only. Terminal-Server-aware:
# otherwise, on a Remote Desktop session host in application mode,
# GetWindowsDirectoryW names a Windows directory private to the user, and
# msiexec.exe, explorer.exe and the staging folder would be looked for there.
# (Microsoft's linker sets the flag by default, /TSAWARE.)
function(velmarch_windows_executable target)
  target_link_options(${target} PRIVATE -static -mwindows -Wl,--tsaware)
  target_compile_options(${target} PRIVATE ${_velmarch_size_optimised})
  # What ships carries no symbol table.
  target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  # The plain terminate handler instead of libstdc++'s verbose one.
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/run/terminate_handler.cpp)
  # Where each byte comes from (tests/release/size_report.py reads it); the
  # map does not change the executable.
  target_link_options(${target} PRIVATE "LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/${target}.map")

  velmarch_add_windows_resources(${target})
endfunction()
