# SPDX-License-Identifier: MIT
# The Windows packages: an NSIS installer and a portable .zip per architecture, made on the build machine
# (Debian's nsis and zip): cmake --build --preset windows --target packages
if(KORVEL_MINGW_ARCH STREQUAL "i686")
  set(_arch x86)
else()
  set(_arch x64)
endif()
set(_stage ${CMAKE_BINARY_DIR}/stage)
set(_out ${CMAKE_BINARY_DIR}/packages)
set(KORVEL_INSTALLER ${_out}/korvel-${PROJECT_VERSION}-${_arch}-setup.exe)
set(KORVEL_PORTABLE ${_out}/korvel-${PROJECT_VERSION}-${_arch}-portable.zip)
find_program(MAKENSIS makensis)
find_program(ZIP zip)
if(NOT MAKENSIS OR NOT ZIP)
  message(STATUS "makensis or zip missing: no Windows packages (scripts/windows installs them)")
  return()
endif()
# The operator's guide goes into both packages when the tree has one.
set(_guide)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/korvel-guide.html)
  set(_guide ${PROJECT_SOURCE_DIR}/docs/korvel-guide.html)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs)
endif()
add_custom_command(OUTPUT ${KORVEL_INSTALLER} ${KORVEL_PORTABLE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage} ${_out}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}/korvel ${_out}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:korvel> $<TARGET_FILE:korvel-cli> ${KORVEL_ICO}
          ${PROJECT_SOURCE_DIR}/packaging/README.txt ${_guide} ${_stage}/korvel
  COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION} -DARCH=${_arch} -DSTAGE=${_stage}/korvel
          -DOUTFILE=${KORVEL_INSTALLER} ${PROJECT_SOURCE_DIR}/packaging/korvel.nsi
  COMMAND ${CMAKE_COMMAND} -E chdir ${_stage} ${ZIP} -q -r -X ${KORVEL_PORTABLE} korvel
  DEPENDS korvel korvel-cli korvel_ico ${PROJECT_SOURCE_DIR}/packaging/korvel.nsi
          ${PROJECT_SOURCE_DIR}/packaging/README.txt ${_guide}
  COMMENT "Windows installer and portable zip (${_arch})")
add_custom_target(packages ALL DEPENDS ${KORVEL_INSTALLER} ${KORVEL_PORTABLE})
