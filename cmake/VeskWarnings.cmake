# The warnings every target of ours is compiled with, given per target rather
# than per directory so that the host-built table generator, a project of its
# own in a cross build, gets the same set. The test command makes them errors
# with CMAKE_COMPILE_WARNING_AS_ERROR; a user's own build keeps them warnings.
function(vesk_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /permissive-)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
      -Wnull-dereference -Wformat=2)
  endif()
  set_property(TARGET ${target} PROPERTY VESK_WARNINGS ON)
endfunction()

# Fails the configure step when a target that compiles code of ours was not
# given the warnings, so a new target cannot slip by without them. Object
# libraries are left out: only Qt makes them here, for its generated resources.
function(vesk_check_warnings dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    get_target_property(sources ${t} SOURCES)
    get_target_property(warned ${t} VESK_WARNINGS)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$"
       AND sources AND NOT warned)
      message(FATAL_ERROR "Target ${t} has no warnings: call vesk_warnings(${t})")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vesk_check_warnings(${sub})
  endforeach()
endfunction()
