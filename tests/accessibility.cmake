# The built program read the way a screen reader reads it, over the AT-SPI bus
# under Xvfb. It receives on 1002, so it runs in a network namespace of its own
# where it can, never beside another test that binds the fixed ports.
if(CMAKE_CROSSCOMPILING OR NOT UNIX)
  return()
endif()
add_test(NAME vesk_accessibility
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/accessibility_test.sh
          $<TARGET_FILE:vesk>)
set_tests_properties(vesk_accessibility PROPERTIES
  RESOURCE_LOCK vesk_fixed_ports
  SKIP_RETURN_CODE 77)
