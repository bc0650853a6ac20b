# The shared library exports its own API and nothing else.
add_test(NAME exports.onlyTheLibrarysOwnApi
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:vexlarcore>
          -P ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_exports.cmake)
