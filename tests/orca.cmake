# A real Orca reads the built program under Xvfb; what it says is checked from
# its debug output. Receives on 1002, so it runs in a network namespace of its
# own, never beside another test that binds the fixed ports.
if(CMAKE_CROSSCOMPILING OR NOT UNIX)
  return()
endif()
add_test(NAME vesk_orca
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/orca_test.sh
          $<TARGET_FILE:vesk>)
set_tests_properties(vesk_orca PROPERTIES
  LABELS accessibility
  RESOURCE_LOCK vesk_fixed_ports
  SKIP_RETURN_CODE 77)
