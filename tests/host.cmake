# Tests of the vexlar program. The host's code apart from main() is a static
# library (vexlarhost) that the test executables link; the end-to-end tests
# run the built program itself.
file(GLOB VEXLAR_HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_host_*.cpp)
if(VEXLAR_HOST_TESTS)
  include(${PROJECT_SOURCE_DIR}/src/host/hostlib.cmake)
  find_package(PNG REQUIRED)
  get_property(host_plugin_targets GLOBAL PROPERTY VEXLAR_PLUGIN_TARGETS)
  if(host_plugin_targets)
    set(host_plugin_dir ${VEXLAR_PLUGIN_BUILD_DIR})
  else()
    set(host_plugin_dir "")
  endif()
  if(TARGET vexlar)
    set(host_program $<TARGET_FILE:vexlar>)
  else()
    set(host_program "")
  endif()
  foreach(src ${VEXLAR_HOST_TESTS})
    get_filename_component(name ${src} NAME_WE)
    if(NOT TARGET ${name})
      continue()
    endif()
    target_link_libraries(${name} PRIVATE vexlarhost PNG::PNG)
    # Without the plug-ins (or the program) the tests that need them skip.
    target_compile_definitions(${name} PRIVATE
      VEXLAR_HOST_PLUGIN_DIR="${host_plugin_dir}"
      VEXLAR_HOST_PROGRAM="${host_program}"
      VEXLAR_VERSION="${PROJECT_VERSION}"
      VEXLAR_HOST_BUILD_DIR="${PROJECT_BINARY_DIR}/src/host"
      VEXLAR_PLUGIN_BUILD_DIR="${VEXLAR_PLUGIN_BUILD_DIR}"
      VEXLAR_PLUGIN_INSTALL_DIR="${CMAKE_INSTALL_PREFIX}/${VEXLAR_PLUGIN_INSTALL_DIR}"
      VEXLAR_PLUGIN_INSTALL_RELDIR="${VEXLAR_PLUGIN_INSTALL_DIR}")
    if(host_plugin_targets)
      add_dependencies(${name} ${host_plugin_targets})
    endif()
    if(TARGET vexlar)
      add_dependencies(${name} vexlar)
    endif()
  endforeach()
endif()
