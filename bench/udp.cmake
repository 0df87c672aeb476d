# Prints how many datagrams of a loopback burst from another process the socket
# component delivers and how fast, beside a plain QUdpSocket.
add_executable(bench_burst ${CMAKE_CURRENT_LIST_DIR}/bench_burst.cpp)
vesk_warnings(bench_burst)
target_link_libraries(bench_burst PRIVATE vesk_udp)
if(NOT WIN32) # a Windows build gets its bursts from the Linux sender
  add_dependencies(bench_burst udp_sender)
endif()
