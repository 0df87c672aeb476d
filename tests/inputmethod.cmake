vesk_add_test(tst_inputmethod SOURCES tst_inputmethod.cpp LIBS vesk_app)

# The built program typed into through a real input method and engine under
# Xvfb; binds 1001/1002, so it runs in a network namespace of its own. With
# XMODIFIERS alone the program must find the input method by itself. Mozc runs
# as nobody (it refuses root). Label: inputmethod.
foreach(_case ibus:xmodifiers:anthy ibus:qt_im_module:anthy fcitx5:xmodifiers:anthy
              ibus:xmodifiers:mozc fcitx5:xmodifiers:mozc)
  string(REPLACE ":" ";" _parts ${_case})
  list(GET _parts 0 _im)
  list(GET _parts 1 _how)
  list(GET _parts 2 _engine)
  set(_name vesk_inputmethod_${_im}_${_how})
  if(NOT _engine STREQUAL anthy)
    string(APPEND _name _${_engine})
  endif()
  add_test(NAME ${_name}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/inputmethod_test.sh
            $<TARGET_FILE:vesk> ${_im} ${_how} ${_engine})
  set_tests_properties(${_name} PROPERTIES
    LABELS inputmethod
    RESOURCE_LOCK vesk_fixed_ports
    SKIP_RETURN_CODE 77)
endforeach()

# The program as a native Wayland client on a headless sway, typed into through
# IBus and Mozc, at scale 1 and 2; runs as nobody (sway and Mozc refuse root).
foreach(_scale 1 2)
  add_test(NAME vesk_wayland_scale${_scale}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/wayland_test.sh
            $<TARGET_FILE:vesk> ${_scale})
  set_tests_properties(vesk_wayland_scale${_scale} PROPERTIES
    LABELS inputmethod
    RESOURCE_LOCK vesk_fixed_ports
    SKIP_RETURN_CODE 77)
endforeach()
