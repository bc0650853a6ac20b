# Plug-in manager and standard plug-in tests: helper modules with deliberate
# faults, and the standard plug-ins built before the tests run.

set(VEXLAR_FIXTURE_DIR ${CMAKE_CURRENT_BINARY_DIR}/pluginfixtures)
set(fixture_kinds 1_good 2_duplicate 3_throws 4_badversion 5_noentry 6_nullinfo 7_noregister 8_badnames)
set(fixture_targets "")
foreach(kind ${fixture_kinds})
  string(REGEX MATCH "^[0-9]+" number ${kind})
  set(target vexlar_test_fixture_${kind})
  add_library(${target} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/pluginfixtures/fixture.cpp)
  target_link_libraries(${target} PRIVATE vexlarcore vexlar_policy)
  target_compile_definitions(${target} PRIVATE FIXTURE_KIND=${number})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME fx${kind}
    LIBRARY_OUTPUT_DIRECTORY ${VEXLAR_FIXTURE_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  list(APPEND fixture_targets ${target})
endforeach()

if(TARGET test_pluginregistry)
  add_dependencies(test_pluginregistry ${fixture_targets})
  target_compile_definitions(test_pluginregistry PRIVATE VEXLAR_FIXTURE_DIR="${VEXLAR_FIXTURE_DIR}")
endif()

if(TARGET test_plugins)
  get_property(standard_plugins GLOBAL PROPERTY VEXLAR_PLUGIN_TARGETS)
  if(standard_plugins)
    add_dependencies(test_plugins ${standard_plugins})
    target_compile_definitions(test_plugins PRIVATE VEXLAR_PLUGIN_BUILD_DIR="${VEXLAR_PLUGIN_BUILD_DIR}")
  else()
    # Built without the plug-ins (VEXLAR_BUILD_HOST off): the tests skip.
    target_compile_definitions(test_plugins PRIVATE VEXLAR_PLUGIN_BUILD_DIR="")
  endif()
endif()
