# Packaging, built with the program by the ordinary build:
#   dirshift-setup-<version>.exe        the 64-bit NSIS installer (target dirshift_installer)
#   dirshift-<version>-portable.zip     dirshift.exe and README.txt (target dirshift_portable_zip)
# The installer needs makensis with the amd64-unicode stubs (Debian's `nsis` has
# them); without it the build says so and goes on without the installer. The zip
# is written by CMake itself, so it builds wherever the program builds.

set(DIRSHIFT_SETUP_EXE ${CMAKE_BINARY_DIR}/dirshift-setup-${PROJECT_VERSION}.exe)
set(DIRSHIFT_PORTABLE_ZIP ${CMAKE_BINARY_DIR}/dirshift-${PROJECT_VERSION}-portable.zip)
set(_installer_script ${PROJECT_SOURCE_DIR}/tools/installer/dirshift.nsi)
set(_installer_icon ${PROJECT_SOURCE_DIR}/resources/dirshift.ico)

find_program(DIRSHIFT_MAKENSIS NAMES makensis DOC "NSIS compiler, for the installer")

# Many NSIS distributions ship only the 32-bit stubs; a 64-bit installer needs the
# amd64 ones. A one-line probe tells before the build depends on it.
function(_dirshift_nsis_builds_amd64 result)
  if(DEFINED CACHE{DIRSHIFT_NSIS_AMD64} AND DIRSHIFT_NSIS_AMD64_FOR STREQUAL DIRSHIFT_MAKENSIS)
    set(${result} ${DIRSHIFT_NSIS_AMD64} PARENT_SCOPE)
    return()
  endif()
  set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/nsis-probe)
  file(MAKE_DIRECTORY ${probe_dir})
  file(WRITE ${probe_dir}/probe.nsi
    "Unicode true\nTarget amd64-unicode\nOutFile \"${probe_dir}/probe.exe\"\nSection\nSectionEnd\n")
  execute_process(COMMAND ${DIRSHIFT_MAKENSIS} -V1 ${probe_dir}/probe.nsi
    RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(works ON)
  else()
    set(works OFF)
  endif()
  set(DIRSHIFT_NSIS_AMD64 ${works} CACHE INTERNAL "makensis builds 64-bit installers")
  set(DIRSHIFT_NSIS_AMD64_FOR ${DIRSHIFT_MAKENSIS} CACHE INTERNAL "makensis that was probed")
  set(${result} ${works} PARENT_SCOPE)
endfunction()

if(NOT DIRSHIFT_MAKENSIS)
  message(STATUS "makensis not found: the installer is not built (install NSIS to build it)")
else()
  _dirshift_nsis_builds_amd64(_nsis_amd64)
  if(NOT _nsis_amd64)
    message(STATUS "${DIRSHIFT_MAKENSIS} cannot build 64-bit installers (no amd64-unicode stubs): "
                   "the installer is not built")
  else()
    # -WX: a warning in the script is a fault in the installer, as in the code.
    add_custom_command(OUTPUT ${DIRSHIFT_SETUP_EXE}
      COMMAND ${DIRSHIFT_MAKENSIS} -V2 -WX
              -DVERSION=${PROJECT_VERSION}
              -DVERSION_QUAD=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0
              -DPROGRAM_EXE=$<TARGET_FILE:dirshift>
              -DPROGRAM_ICON=${_installer_icon}
              -DSETUP_EXE=${DIRSHIFT_SETUP_EXE}
              ${_installer_script}
      DEPENDS dirshift ${_installer_script} ${_installer_icon}
      COMMENT "Building the installer dirshift-setup-${PROJECT_VERSION}.exe"
      VERBATIM)
    add_custom_target(dirshift_installer ALL DEPENDS ${DIRSHIFT_SETUP_EXE})
  endif()
endif()

# The README goes into the zip with Windows line ends, so Notepad on any Windows
# version shows it as it should.
set(_portable_dir ${CMAKE_BINARY_DIR}/portable)
configure_file(${PROJECT_SOURCE_DIR}/README.md ${_portable_dir}/README.txt @ONLY NEWLINE_STYLE CRLF)
add_custom_command(OUTPUT ${DIRSHIFT_PORTABLE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:dirshift> ${_portable_dir}/dirshift.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${DIRSHIFT_PORTABLE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${DIRSHIFT_PORTABLE_ZIP} --format=zip dirshift.exe README.txt
  WORKING_DIRECTORY ${_portable_dir}
  DEPENDS dirshift ${_portable_dir}/README.txt
  COMMENT "Building the portable zip dirshift-${PROJECT_VERSION}-portable.zip"
  VERBATIM)
add_custom_target(dirshift_portable_zip ALL DEPENDS ${DIRSHIFT_PORTABLE_ZIP})
