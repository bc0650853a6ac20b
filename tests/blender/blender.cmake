# The Blender add-on's tests: scripts run by the real Blender, headless,
# against the vexlar program built here. Label `blender`
# (ctest -L blender); skipped with a message where Blender is absent.
foreach(script compare export failures)
  add_test(NAME blender_${script}
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/blender/run.sh $<TARGET_FILE:vexlar>
                   ${CMAKE_CURRENT_SOURCE_DIR}/blender/test_${script}.py)
  set_tests_properties(blender_${script} PROPERTIES LABELS blender SKIP_RETURN_CODE 77 TIMEOUT 300
                       ENVIRONMENT "VEXLAR_MESH_CACHE=off")
endforeach()
