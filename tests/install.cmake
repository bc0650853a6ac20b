# Installs the library into a scratch prefix and builds a small program
# against it, once through find_package(vexlarcore) and once through
# pkg-config. A sanitized library would need the same flags in the consumer,
# so the check only runs in ordinary builds.
if(NOT VEXLAR_SANITIZE)
  add_test(NAME install.consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DCONFIG=$<CONFIG>
      -DCONSUMER_SOURCE=${CMAKE_CURRENT_SOURCE_DIR}/consumer
      -DSCRATCH_ROOT=${CMAKE_CURRENT_BINARY_DIR}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX=${CMAKE_CXX_COMPILER}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.cmake)
  set_tests_properties(install.consumer PROPERTIES TIMEOUT 600)
endif()
