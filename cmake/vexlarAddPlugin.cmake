# vexlar_add_plugin(<target> [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                   [INSTALL_DESTINATION <dir>] <source>...)
#
# Builds a vexlar plug-in module from <source>... : a loadable module
# (<name>.so, no "lib" prefix; <name> defaults to <target>) linked with
# vexlar::vexlarcore, compiled as C++17 with hidden symbols so that only the
# entry point VEXLAR_PLUGIN defines is exported. The module lands in
# <dir> (default: the "plugins" folder at the top of the build tree), a
# folder to give to `vexlar --plugins`. With INSTALL_DESTINATION it is also
# installed there (relative to the install prefix, or absolute; the package
# sets vexlarcore_PLUGIN_DIR to the plug-in folder of the installed vexlar
# program, which that program always loads).
#
# Shipped with the vexlarcore CMake package; after find_package(vexlarcore)
# a plug-in is:
#     vexlar_add_plugin(shader_toon toon.cpp)
include_guard(GLOBAL)

function(vexlar_add_plugin target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_NAME;OUTPUT_DIRECTORY;INSTALL_DESTINATION" "")
  if(NOT arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vexlar_add_plugin(${target}): no source files given")
  endif()
  if(NOT TARGET vexlar::vexlarcore)
    message(FATAL_ERROR "vexlar_add_plugin(${target}): vexlar::vexlarcore is not defined; "
                        "call find_package(vexlarcore) first")
  endif()
  if(NOT arg_OUTPUT_NAME)
    set(arg_OUTPUT_NAME ${target})
  endif()
  if(NOT arg_OUTPUT_DIRECTORY)
    set(arg_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)
  endif()

  add_library(${target} MODULE ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE vexlar::vexlarcore)
  target_compile_features(${target} PRIVATE cxx_std_17)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${arg_OUTPUT_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(arg_INSTALL_DESTINATION)
    install(TARGETS ${target} LIBRARY DESTINATION ${arg_INSTALL_DESTINATION})
  endif()
endfunction()
