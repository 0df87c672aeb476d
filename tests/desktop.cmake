# The real program's desktop notifications, read from a fake notification
# service on a private session bus under Xvfb. Receives on 1002, so it runs in
# a network namespace of its own, never beside another such test.
if(CMAKE_CROSSCOMPILING OR NOT UNIX)
  return()
endif()
add_test(NAME vesk_notification
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/notification_test.sh
          $<TARGET_FILE:vesk>)
set_tests_properties(vesk_notification PROPERTIES
  RESOURCE_LOCK vesk_fixed_ports
  SKIP_RETURN_CODE 77)
