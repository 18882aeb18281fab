# SPDX-License-Identifier: MIT
# What the Windows build takes from the build machine: the header-only libraries of the command line,
# copied into the build tree so that no Linux header folder is ever on the cross-compiler's path.
foreach(lib CLI11 nlohmann_json)
  if(TARGET ${lib}::${lib})
    continue()
  endif()
  if(lib STREQUAL "CLI11")
    set(_dirs CLI)
  else()
    set(_dirs nlohmann)
  endif()
  foreach(_dir ${_dirs})
    if(NOT EXISTS /usr/include/${_dir})
      message(FATAL_ERROR "/usr/include/${_dir} is missing: install the Debian package (scripts/windows does)")
    endif()
    file(COPY /usr/include/${_dir} DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
  endforeach()
  add_library(${lib}::${lib} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${lib}::${lib} SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-headers)
  set(${lib}_FOUND TRUE)
endforeach()

# The programs carry no symbols: they are shipped, not debugged, from here.
add_link_options(-s)
