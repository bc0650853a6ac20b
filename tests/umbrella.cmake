# The umbrella header must include every public header of the library.
add_test(NAME umbrella.includesEveryHeader
  COMMAND ${CMAKE_COMMAND} -DHEADER_DIR=${PROJECT_SOURCE_DIR}/src/vexlarcore
          -P ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_umbrella.cmake)
