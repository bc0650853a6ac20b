# Tests of the pictures read by the image plug-ins and written by the
# program, checked against independent decoders: Pillow and numpy (found
# with the Python that has them: Debian's python3-pil and python3-numpy),
# OpenEXR's own tools and its C interface.
set(VEXLAR_TEST_PYTHON "")
foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3 python3)
  execute_process(COMMAND ${candidate} -c "import PIL, numpy"
                  RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(NOT failed)
    set(VEXLAR_TEST_PYTHON ${candidate})
    break()
  endif()
endforeach()
if(NOT VEXLAR_TEST_PYTHON)
  message(WARNING "No Python with Pillow and numpy: the image round-trip tests will fail "
                  "(scripts/install-deps.sh installs python3-pil and python3-numpy)")
endif()

if(TARGET test_imageread)
  include(${PROJECT_SOURCE_DIR}/src/plugins/common/imageread.cmake)
  target_link_libraries(test_imageread PRIVATE vexlar_imageread vexlarhost)
  target_compile_definitions(test_imageread PRIVATE VEXLAR_TEST_PYTHON="${VEXLAR_TEST_PYTHON}")
endif()

if(TARGET test_host_outputcolor)
  include(${PROJECT_SOURCE_DIR}/src/plugins/common/imageread.cmake)
  target_link_libraries(test_host_outputcolor PRIVATE vexlar_imageread)
  if(VEXLAR_OPENEXR)
    target_link_libraries(test_host_outputcolor PRIVATE OpenEXR::OpenEXRCore)
    target_compile_definitions(test_host_outputcolor PRIVATE VEXLAR_HAVE_OPENEXR=1)
  endif()
endif()

if(TARGET vexlar AND VEXLAR_TEST_PYTHON)
  add_test(NAME host_output_formats
           COMMAND ${VEXLAR_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/output_formats.py
                   $<TARGET_FILE:vexlar> ${CMAKE_CURRENT_SOURCE_DIR}/data)
endif()

if(TARGET test_host_imageplugins)
  include(${PROJECT_SOURCE_DIR}/src/plugins/common/imageread.cmake)
  target_link_libraries(test_host_imageplugins PRIVATE vexlar_imageread)
endif()
