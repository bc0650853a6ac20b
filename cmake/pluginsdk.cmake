# Installs what plug-in authors build against, beside the library: the
# header-only helpers (include/vexlarplugin/) and vexlar_add_plugin() in the
# CMake package. Included from src/vexlarcore/CMakeLists.txt once
# VEXLAR_CMAKE_DIR (the package's install folder) is set.
file(GLOB VEXLAR_PLUGIN_SDK_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/vexlarplugin/*.h)
install(FILES ${VEXLAR_PLUGIN_SDK_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexlarplugin)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/vexlarAddPlugin.cmake DESTINATION ${VEXLAR_CMAKE_DIR})
