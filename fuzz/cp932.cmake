# Code page 932 converter under libFuzzer: received bytes and text to send.
foreach(_target IN ITEMS fuzz_cp932_decode fuzz_cp932_encode)
  add_executable(${_target} ${CMAKE_CURRENT_LIST_DIR}/${_target}.cpp)
  target_link_libraries(${_target} PRIVATE vesk_codepage)
  vesk_warnings(${_target})
  target_link_options(${_target} PRIVATE -fsanitize=fuzzer)
endforeach()
