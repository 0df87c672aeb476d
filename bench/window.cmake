# Window-level benchmarks: the transcript, a conversation window under a burst and
# a send, and whole-program start-up beside a minimal Qt Widgets program.
add_executable(bench_transcript ${CMAKE_CURRENT_LIST_DIR}/bench_transcript.cpp)
target_link_libraries(bench_transcript PRIVATE vesk_app)

add_executable(bench_conversation ${CMAKE_CURRENT_LIST_DIR}/bench_conversation.cpp)
target_link_libraries(bench_conversation PRIVATE vesk_app Qt6::Network)

# The reference for start-up: built with the same flags as the program itself.
add_executable(minimal_qt ${CMAKE_CURRENT_LIST_DIR}/minimal_qt.cpp)
target_link_libraries(minimal_qt PRIVATE Qt6::Widgets)

# Start-up watches the X server for the first mapped window, so it speaks xcb
# directly; without the xcb headers (libxcb1-dev) it is left out.
find_path(VESK_XCB_INCLUDE_DIR xcb/xcb.h)
find_library(VESK_XCB_LIBRARY xcb)
if(VESK_XCB_INCLUDE_DIR AND VESK_XCB_LIBRARY)
  add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
  set_target_properties(bench_startup PROPERTIES AUTOMOC OFF)
  target_include_directories(bench_startup PRIVATE ${VESK_XCB_INCLUDE_DIR})
  target_link_libraries(bench_startup PRIVATE ${VESK_XCB_LIBRARY})
else()
  message(STATUS "bench_startup left out: xcb headers not found (install libxcb1-dev)")
endif()
