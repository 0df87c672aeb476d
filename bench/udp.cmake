# Prints how many datagrams of a loopback burst the socket component delivers
# and how fast, beside plain QUdpSocket receivers.
add_executable(bench_burst ${CMAKE_CURRENT_LIST_DIR}/bench_burst.cpp)
vesk_warnings(bench_burst)
target_link_libraries(bench_burst PRIVATE vesk_udp)
