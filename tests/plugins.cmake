# The plug-in loader's tests open a real module. It is built alone into its
# own directory, so that listing that directory gives exactly one file.
add_library(vexlar_testmodule MODULE ${CMAKE_CURRENT_SOURCE_DIR}/testmodule/module.cpp)
target_link_libraries(vexlar_testmodule PRIVATE vexlar_policy)
# The module's own references to its symbols bind inside it, whatever other
# library in the global scope exports the same names.
target_link_options(vexlar_testmodule PRIVATE -Wl,-Bsymbolic)
set_target_properties(vexlar_testmodule PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/testmodule
  CXX_VISIBILITY_PRESET hidden)

if(TARGET test_sharedlibrary)
  add_dependencies(test_sharedlibrary vexlar_testmodule)
  target_compile_definitions(test_sharedlibrary PRIVATE
    VEXLAR_TEST_MODULE_DIR="${CMAKE_CURRENT_BINARY_DIR}/testmodule"
    VEXLAR_TEST_MODULE="$<TARGET_FILE:vexlar_testmodule>")
endif()
