# The accelerator's own code, linked into its test.
if(TARGET vexlarembree)
  target_link_libraries(test_host_embree PRIVATE vexlarembree)
  target_compile_definitions(test_host_embree PRIVATE VEXLAR_TEST_EMBREE=1)
endif()
# The Embree accelerator against the exact mesh path on a whole picture.
if(TARGET vexlar AND VEXLAR_EMBREE AND VEXLAR_TEST_PYTHON)
  add_test(NAME host_embree_matches_exact_path
           COMMAND ${VEXLAR_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/accelerator_match.py
                   $<TARGET_FILE:vexlar>)
endif()
