# Window-level benchmarks: the transcript, a conversation window under a burst,
# the time to a painted line, the real program under floods, and whole-program
# start-up beside a minimal Qt Widgets program.
add_executable(bench_transcript ${CMAKE_CURRENT_LIST_DIR}/bench_transcript.cpp)
vesk_warnings(bench_transcript)
target_link_libraries(bench_transcript PRIVATE vesk_app)

add_executable(bench_conversation ${CMAKE_CURRENT_LIST_DIR}/bench_conversation.cpp)

vesk_warnings(bench_conversation)
target_link_libraries(bench_conversation PRIVATE vesk_app Qt6::Network)

# The traffic from outside the window's process: a plain sender of its own.
add_executable(udp_sender ${CMAKE_CURRENT_LIST_DIR}/udp_sender.cpp)
vesk_warnings(udp_sender)
set_target_properties(udp_sender PROPERTIES AUTOMOC OFF)

add_executable(bench_latency ${CMAKE_CURRENT_LIST_DIR}/bench_latency.cpp)

vesk_warnings(bench_latency)
target_link_libraries(bench_latency PRIVATE vesk_app Qt6::Network)
add_dependencies(bench_latency udp_sender)

# The reference for start-up: built with the same flags as the program itself.
add_executable(minimal_qt ${CMAKE_CURRENT_LIST_DIR}/minimal_qt.cpp)
vesk_warnings(minimal_qt)
target_link_libraries(minimal_qt PRIVATE Qt6::Widgets)

# Start-up watches the X server for the first mapped window, so it speaks xcb
# directly; without the xcb headers (libxcb1-dev) it is left out.
find_path(VESK_XCB_INCLUDE_DIR xcb/xcb.h)
find_library(VESK_XCB_LIBRARY xcb)
if(VESK_XCB_INCLUDE_DIR AND VESK_XCB_LIBRARY)
  add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
  vesk_warnings(bench_startup)
  set_target_properties(bench_startup PROPERTIES AUTOMOC OFF)
  target_include_directories(bench_startup PRIVATE ${VESK_XCB_INCLUDE_DIR})
  target_link_libraries(bench_startup PRIVATE ${VESK_XCB_LIBRARY})
  add_executable(bench_flood ${CMAKE_CURRENT_LIST_DIR}/bench_flood.cpp)
  vesk_warnings(bench_flood)
  set_target_properties(bench_flood PROPERTIES AUTOMOC OFF)
  target_include_directories(bench_flood PRIVATE ${VESK_XCB_INCLUDE_DIR})
  target_link_libraries(bench_flood PRIVATE ${VESK_XCB_LIBRARY})
  add_dependencies(bench_flood udp_sender vesk)
else()
  message(STATUS "bench_startup and bench_flood left out: xcb headers not found (install libxcb1-dev)")
endif()
