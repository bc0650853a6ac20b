# Tests of the vexlar program. The host's code apart from main() is the
# static library vexlarhost (src/host), which the test executables link; the
# end-to-end tests run the built program itself.
find_package(PNG REQUIRED)
get_property(host_plugin_targets GLOBAL PROPERTY VEXLAR_PLUGIN_TARGETS)
set(host_plugin_dir "")
if(host_plugin_targets)
  set(host_plugin_dir ${VEXLAR_PLUGIN_BUILD_DIR})
endif()
file(GLOB VEXLAR_HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_host_*.cpp)
foreach(src ${VEXLAR_HOST_TESTS})
  get_filename_component(name ${src} NAME_WE)
  target_link_libraries(${name} PRIVATE vexlarhost PNG::PNG)
  # Without the plug-ins the tests that need them skip.
  target_compile_definitions(${name} PRIVATE
    VEXLAR_HOST_PLUGIN_DIR="${host_plugin_dir}"
    VEXLAR_HOST_PROGRAM="$<TARGET_FILE:vexlar>")
  add_dependencies(${name} vexlar)
endforeach()
