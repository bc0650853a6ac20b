# The normal build's replay of the fuzz inputs: every fuzz target is also
# linked with replay_main.cpp (no libFuzzer, built like the rest of the
# suite, sanitized when the suite is) and a test runs it over the target's
# seeds in fuzz/corpus/<name> and its regression inputs in
# fuzz/regressions/<name>. The test of a target fails when an input breaks
# one of its checks or crashes it.
set(dir ${CMAKE_CURRENT_LIST_DIR})
set(VEXLAR_REPLAY_TARGETS targa transfer workermessage)
if(VEXLAR_BUILD_HOST)
  list(APPEND VEXLAR_REPLAY_TARGETS obj scene params image meshcache)
endif()
foreach(name ${VEXLAR_REPLAY_TARGETS})
  add_executable(replay_${name} ${dir}/replay_main.cpp ${dir}/fuzz_${name}.cpp)
  target_include_directories(replay_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${dir})
  target_link_libraries(replay_${name} PRIVATE vexlarcore vexlar_policy)
  set(inputs "")
  foreach(kind corpus regressions)
    if(EXISTS ${dir}/${kind}/${name})
      list(APPEND inputs ${dir}/${kind}/${name})
    endif()
  endforeach()
  add_test(NAME fuzzReplay.${name} COMMAND replay_${name} ${inputs})
  set_tests_properties(fuzzReplay.${name} PROPERTIES TIMEOUT 120)
endforeach()
if(VEXLAR_BUILD_HOST)
  target_link_libraries(replay_obj PRIVATE vexlarhost)
  target_link_libraries(replay_meshcache PRIVATE vexlarhost)
  target_link_libraries(replay_scene PRIVATE vexlarhost)
  target_link_libraries(replay_params PRIVATE vexlarhost)
  target_link_libraries(replay_image PRIVATE vexlar_imageread)
  get_property(vexlar_plugin_targets GLOBAL PROPERTY VEXLAR_PLUGIN_TARGETS)
  add_dependencies(replay_scene ${vexlar_plugin_targets})
  add_dependencies(replay_params ${vexlar_plugin_targets})
endif()
