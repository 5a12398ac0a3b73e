# The plug-in as it is installed, staged by every build in <build>/plugin/: the plug-in, its INI
# file and the sub-modules in a folder named after their word size (x64, x86), so that the 64-bit
# and the 32-bit plug-in can share one installation folder without loading each other's modules.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MORVANE_MODULE_FOLDER x64)
else()
  set(MORVANE_MODULE_FOLDER x86)
endif()
if(WIN32)
  set(MORVANE_MODULE_SEPARATOR "\\")
  set(MORVANE_MODULE_SUFFIX .dll)
else()
  set(MORVANE_MODULE_SEPARATOR "/")
  set(MORVANE_MODULE_SUFFIX .so)
endif()
set(MORVANE_PLUGIN_FOLDER ${PROJECT_BINARY_DIR}/plugin)
configure_file(${PROJECT_SOURCE_DIR}/src/resources/morvane.ini.in ${MORVANE_PLUGIN_FOLDER}/${MORVANE_INI_NAME}
  @ONLY NEWLINE_STYLE CRLF)

set(staged_modules)
foreach(module sevenzip_submodule tar_submodule formats_submodule)
  if(TARGET ${module})
    list(APPEND staged_modules ${module})
  endif()
endforeach()
set(copy_modules)
foreach(module ${staged_modules})
  list(APPEND copy_modules COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${module}>
    ${MORVANE_PLUGIN_FOLDER}/${MORVANE_MODULE_FOLDER}/)
endforeach()
# The libraries that ship beside the sub-modules (7-Zip's, beside sevenzip).
get_property(companions GLOBAL PROPERTY MORVANE_SUBMODULE_COMPANIONS)
foreach(companion ${companions})
  list(APPEND copy_modules COMMAND ${CMAKE_COMMAND} -E copy_if_different ${companion}
    ${MORVANE_PLUGIN_FOLDER}/${MORVANE_MODULE_FOLDER}/)
endforeach()
add_custom_target(plugin_folder ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MORVANE_PLUGIN_FOLDER}/${MORVANE_MODULE_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:morvane_plugin> ${MORVANE_PLUGIN_FOLDER}/
  ${copy_modules}
  VERBATIM)
add_dependencies(plugin_folder morvane_plugin ${staged_modules})
