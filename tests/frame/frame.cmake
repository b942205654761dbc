kaldro_add_test_suite(test_frame SOURCES frame_test.cpp)

# The public header compiles as C99 and links against the shared library.
add_executable(test_header_c99 header_c99.c)
target_link_libraries(test_header_c99 PRIVATE kaldro)
target_compile_options(test_header_c99 PRIVATE -std=c99 -pedantic -Wall -Wextra -Werror)
add_test(NAME header_c99 COMMAND test_header_c99)

# Only kaldro_* symbols leave the shared library.
add_test(NAME exported_symbols
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_symbols.sh $<TARGET_FILE:kaldro>)
