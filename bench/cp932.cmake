# Prints encode/decode throughput of the code page 932 converter beside glibc iconv.
add_executable(bench_cp932 ${CMAKE_CURRENT_LIST_DIR}/bench_cp932.cpp)
vesk_warnings(bench_cp932)
target_link_libraries(bench_cp932 PRIVATE vesk_udp)
