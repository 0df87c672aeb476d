# Tests of the installed program and of the package. They run the files that
# `cmake --install` and CPack produce, so the program must have been built.
# The Linux program and package only: a cross build has neither to run here.
if(CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# A plugin an ordinary user could put in Vesk's way (see userplugin.cpp).
add_library(vesk_userplugin MODULE userplugin.cpp)
vesk_warnings(vesk_userplugin)
target_link_libraries(vesk_userplugin PRIVATE Qt6::Core)

# Two installed copies, started as an ordinary user the way the desktop entry
# starts them, talk under Xvfb, driven by xdotool; then the user's own plugin
# is loaded into Vesk. Binds 1001/1002, so it runs in a network namespace of
# its own where it can (with its own Xvfb).
add_test(NAME vesk_realbinary
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/realbinary_test.sh
          ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR} $<TARGET_FILE:vesk_userplugin>)
set_tests_properties(vesk_realbinary PROPERTIES
  RESOURCE_LOCK vesk_fixed_ports
  SKIP_RETURN_CODE 77)

add_test(NAME packaging_validate
  COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/package_test.sh validate
          ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
add_test(NAME packaging_deb
  COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/package_test.sh deb
          ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR})
set_tests_properties(packaging_validate packaging_deb PROPERTIES
  SKIP_RETURN_CODE 77)
