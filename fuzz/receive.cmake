# The receive path from datagram bytes to the transcript line.
add_executable(fuzz_receive ${CMAKE_CURRENT_LIST_DIR}/fuzz_receive.cpp)
target_link_libraries(fuzz_receive PRIVATE vesk_rules)
vesk_warnings(fuzz_receive)
target_link_options(fuzz_receive PRIVATE -fsanitize=fuzzer)
