# Windows resources of the updater: manifest, version block and icon, compiled
# by windres from resources/velmarch-updater.rc.in. The version numbers come
# from the project version.

enable_language(RC)

set(VELMARCH_RESOURCES_DIR "${CMAKE_CURRENT_LIST_DIR}/../resources")
cmake_path(NORMAL_PATH VELMARCH_RESOURCES_DIR)

function(velmarch_add_windows_resources target)
  set(VELMARCH_RC_MANIFEST "${VELMARCH_RESOURCES_DIR}/velmarch-updater.manifest")
  set(VELMARCH_RC_ICON "${VELMARCH_RESOURCES_DIR}/velmarch-updater.ico")
  set(rc_file "${CMAKE_CURRENT_BINARY_DIR}/resources/${target}.rc")
  configure_file("${VELMARCH_RESOURCES_DIR}/velmarch-updater.rc.in" "${rc_file}" @ONLY)

  # windres reports no dependencies: name the files the script pulls in.
  set_source_files_properties("${rc_file}" PROPERTIES
    OBJECT_DEPENDS "${VELMARCH_RC_MANIFEST};${VELMARCH_RC_ICON}")
  target_sources(${target} PRIVATE "${rc_file}")
endfunction()

# Registers a test that reads the resources back out of the built executable.
# Needs a Python 3 with pefile (Debian's python3-pefile).
function(velmarch_add_resource_test target)
  find_program(VELMARCH_PEFILE_PYTHON NAMES python3
    VALIDATOR _velmarch_python_has_pefile
    DOC "Python 3 interpreter that can import pefile")
  if(NOT VELMARCH_PEFILE_PYTHON)
    message(WARNING "No python3 with pefile found: the resource test is not registered "
                    "(scripts/install-deps windows installs python3-pefile).")
    return()
  endif()
  add_test(NAME velmarch_resources
    COMMAND "${VELMARCH_PEFILE_PYTHON}"
            "${PROJECT_SOURCE_DIR}/tests/windows/check_resources.py"
            "$<TARGET_FILE:${target}>" --version "${PROJECT_VERSION}")
  # The check itself refuses a static bcrypt.dll or crypt32.dll import.
  add_test(NAME velmarch_resources_check_refuses
    COMMAND "${VELMARCH_PEFILE_PYTHON}"
            "${PROJECT_SOURCE_DIR}/tests/windows/check_resources_test.py"
            "$<TARGET_FILE:${target}>" --version "${PROJECT_VERSION}")
endfunction()

function(_velmarch_python_has_pefile result candidate)
  execute_process(COMMAND "${candidate}" -c "import pefile"
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
