# Plug-in SDK tests: the declarations of the standard plug-ins and the
# parameter checks (C++), and a plug-in built out of tree against the installed
# package (script). A sanitized library would need the same flags in the
# outside build, so the script only runs in ordinary builds.
include_guard(DIRECTORY)
get_property(standard_plugins GLOBAL PROPERTY VEXLAR_PLUGIN_TARGETS)
foreach(t test_pluginparams)
  if(NOT TARGET ${t})
    continue()
  endif()
  if(standard_plugins)
    add_dependencies(${t} ${standard_plugins})
    target_compile_definitions(${t} PRIVATE VEXLAR_PLUGIN_BUILD_DIR="${VEXLAR_PLUGIN_BUILD_DIR}")
  else()
    target_compile_definitions(${t} PRIVATE VEXLAR_PLUGIN_BUILD_DIR="")
  endif()
endforeach()

if(TARGET vexlar AND NOT VEXLAR_SANITIZE)
  add_test(NAME install.outOfTreePlugin
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DCONFIG=$<CONFIG>
      -DDOC=${PROJECT_SOURCE_DIR}/docs/plugins.md
      -DSCRATCH_ROOT=${CMAKE_CURRENT_BINARY_DIR}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX=${CMAKE_CXX_COMPILER}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/pluginsdk/run.cmake)
  set_tests_properties(install.outOfTreePlugin PROPERTIES TIMEOUT 600)
endif()
