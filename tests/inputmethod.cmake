vesk_add_test(tst_inputmethod SOURCES tst_inputmethod.cpp LIBS vesk_app)

# The built program typed into through a real input method under Xvfb; binds
# 1001/1002, so it runs in a network namespace of its own. With XMODIFIERS alone
# the program must find the input method by itself. Label: inputmethod.
foreach(_case ibus:xmodifiers ibus:qt_im_module fcitx5:xmodifiers)
  string(REPLACE ":" ";" _parts ${_case})
  list(GET _parts 0 _im)
  list(GET _parts 1 _how)
  add_test(NAME vesk_inputmethod_${_im}_${_how}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/isolated.sh bash ${CMAKE_CURRENT_SOURCE_DIR}/inputmethod_test.sh
            $<TARGET_FILE:vesk> ${_im} ${_how})
  set_tests_properties(vesk_inputmethod_${_im}_${_how} PROPERTIES
    LABELS inputmethod
    RESOURCE_LOCK vesk_fixed_ports
    SKIP_RETURN_CODE 77)
endforeach()
