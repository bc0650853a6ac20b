# The host's code apart from main(): a static library that the vexlar program
# and the host tests both link. Included from src/host/CMakeLists.txt and,
# when the program is not part of the build, from the tests.
if(NOT TARGET vexlarhost)
  find_package(CLI11 REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(tinyobjloader REQUIRED)
  find_package(PNG REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)

  set(VEXLAR_HOST_DIR ${CMAKE_CURRENT_LIST_DIR})
  set(VEXLAR_HOST_GEN_DIR ${PROJECT_BINARY_DIR}/src/host/generated)

  # The demo scene and its mesh are compiled into the program, so that
  # `vexlar` with no scene file needs nothing but itself and the plug-ins.
  set(VEXLAR_HOST_EMBEDDED "")
  foreach(pair "bunny.obj:demoBunnyObj" "demo.json:demoSceneJson")
    string(REPLACE ":" ";" parts ${pair})
    list(GET parts 0 file)
    list(GET parts 1 symbol)
    add_custom_command(
      OUTPUT ${VEXLAR_HOST_GEN_DIR}/${symbol}.cpp
      COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/scenes/${file}
              -DOUTPUT=${VEXLAR_HOST_GEN_DIR}/${symbol}.cpp -DSYMBOL=${symbol}
              -P ${VEXLAR_HOST_DIR}/embed.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/scenes/${file} ${VEXLAR_HOST_DIR}/embed.cmake
      COMMENT "Embedding scenes/${file} in the vexlar program")
    list(APPEND VEXLAR_HOST_EMBEDDED ${VEXLAR_HOST_GEN_DIR}/${symbol}.cpp)
  endforeach()

  file(GLOB VEXLAR_HOST_SOURCES CONFIGURE_DEPENDS ${VEXLAR_HOST_DIR}/*.cpp)
  list(REMOVE_ITEM VEXLAR_HOST_SOURCES ${VEXLAR_HOST_DIR}/main.cpp)
  add_library(vexlarhost STATIC ${VEXLAR_HOST_SOURCES} ${VEXLAR_HOST_EMBEDDED})
  target_include_directories(vexlarhost PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(vexlarhost
    PUBLIC vexlarcore nlohmann_json::nlohmann_json
    PRIVATE vexlar_policy CLI11::CLI11 tinyobjloader::tinyobjloader PNG::PNG PkgConfig::XXHASH)
  target_compile_definitions(vexlarhost PRIVATE
    VEXLAR_VERSION="${PROJECT_VERSION}"
    VEXLAR_HOST_BUILD_DIR="${PROJECT_BINARY_DIR}/src/host"
    VEXLAR_PLUGIN_BUILD_DIR="${VEXLAR_PLUGIN_BUILD_DIR}"
    VEXLAR_PLUGIN_INSTALL_DIR="${CMAKE_INSTALL_PREFIX}/${VEXLAR_PLUGIN_INSTALL_DIR}"
    VEXLAR_PLUGIN_INSTALL_RELDIR="${VEXLAR_PLUGIN_INSTALL_DIR}")
endif()
