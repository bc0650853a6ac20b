# The third-party image libraries of the vexlar program and its plug-ins,
# found once for the whole build (imported targets made global), whichever
# directory includes this file first.
#   stb::image        stb_image (Debian libstb-dev): PNG and JPEG reading; required
#   VEXLAR_OPENEXR    option, on when OpenEXR (libopenexr-dev) is found: .exr
#                     output and EXR textures; the define VEXLAR_HAVE_OPENEXR
#                     is set on the targets that use it
include_guard(GLOBAL)

find_package(PkgConfig REQUIRED)
pkg_check_modules(VEXLAR_STB REQUIRED IMPORTED_TARGET GLOBAL stb)
if(NOT TARGET stb::image)
  add_library(stb::image ALIAS PkgConfig::VEXLAR_STB)
endif()

find_package(OpenEXR CONFIG QUIET GLOBAL)
option(VEXLAR_OPENEXR "Read and write OpenEXR images (needs libopenexr-dev)" ${OpenEXR_FOUND})
if(VEXLAR_OPENEXR AND NOT OpenEXR_FOUND)
  message(FATAL_ERROR "VEXLAR_OPENEXR is on but OpenEXR was not found (Debian: libopenexr-dev)")
endif()

# Links `target` with OpenEXR and defines VEXLAR_HAVE_OPENEXR, when enabled.
function(vexlar_use_openexr target)
  if(VEXLAR_OPENEXR)
    target_link_libraries(${target} PRIVATE OpenEXR::OpenEXR)
    target_compile_definitions(${target} PRIVATE VEXLAR_HAVE_OPENEXR=1)
  endif()
endfunction()
