# The project's version (project(... VERSION ...) in the top-level CMakeLists.txt) and its licence
# (LICENSE) in the places a user sees them: as MORVANE_VERSION and MORVANE_COPYRIGHT for programs
# that print them, and as the version resource of every Windows binary.

set(MORVANE_COPYRIGHT "Copyright (c) the Morvane authors. MIT License.")

add_library(morvane_version INTERFACE)
target_compile_definitions(morvane_version INTERFACE MORVANE_VERSION="${PROJECT_VERSION}"
  MORVANE_COPYRIGHT="${MORVANE_COPYRIGHT}")

# morvane_add_version_info(TARGET DESCRIPTION): a VERSIONINFO resource with the file and product
# version, the description, the product name, the copyright and licence, and the file's own name.
# Nothing outside Windows.
function(morvane_add_version_info target description)
  if(NOT WIN32)
    return()
  endif()
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(VERSION_${part} "${PROJECT_VERSION_${part}}")
    if(VERSION_${part} STREQUAL "")
      set(VERSION_${part} 0)
    endif()
  endforeach()
  set(VERSION_TEXT "${PROJECT_VERSION}")
  set(VERSION_COPYRIGHT "${MORVANE_COPYRIGHT}")
  set(VERSION_DESCRIPTION "${description}")
  set(VERSION_TARGET "${target}")
  # Two steps: @...@ from here, then the file name and type from the target once it is known.
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc.in)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/src/resources/VersionInfo.rc.in ${configured} @ONLY)
  file(GENERATE OUTPUT ${generated} INPUT ${configured})
  target_sources(${target} PRIVATE ${generated})
endfunction()
