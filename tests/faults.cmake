# The host fault tests copy the plug-in fixture modules into a folder of
# their own.
if(TARGET test_host_faults)
  target_compile_definitions(test_host_faults PRIVATE VEXLAR_FIXTURE_DIR="${VEXLAR_FIXTURE_DIR}")
  add_dependencies(test_host_faults vexlar_test_fixture_1_good vexlar_test_fixture_3_throws
                   vexlar_test_fixture_5_noentry)
endif()
