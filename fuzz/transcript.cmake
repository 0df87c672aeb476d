# The transcript box against a model of its rule, steps chosen by the input.
# Key presses go in as Qt Test sends them in the model test.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(fuzz_transcript ${CMAKE_CURRENT_LIST_DIR}/fuzz_transcript.cpp)
target_include_directories(fuzz_transcript PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(fuzz_transcript PRIVATE vesk_conversation Qt6::Test)
vesk_warnings(fuzz_transcript)
target_link_options(fuzz_transcript PRIVATE -fsanitize=fuzzer)
