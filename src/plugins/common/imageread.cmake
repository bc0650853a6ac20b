# vexlar_imageread: the picture reading and look-up code that the image
# texture and the image background share, a static library linked into both
# modules (and into the tests).
include(${PROJECT_SOURCE_DIR}/cmake/imageLibraries.cmake)
if(NOT TARGET vexlar_imageread)
  set(dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(vexlar_imageread STATIC
    ${dir}/imageread.cpp ${dir}/hdrread.cpp ${dir}/exrread.cpp ${dir}/texelsample.cpp
    ${dir}/envmap.cpp)
  target_include_directories(vexlar_imageread PUBLIC ${PROJECT_SOURCE_DIR}/src/plugins)
  target_link_libraries(vexlar_imageread PUBLIC vexlarcore PRIVATE vexlar_policy stb::image)
  vexlar_use_openexr(vexlar_imageread)
  # Linked into modules that export nothing but their entry point.
  set_target_properties(vexlar_imageread PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endif()
