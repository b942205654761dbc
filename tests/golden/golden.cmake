# The golden outputs: every deterministic family on a fixed input set, compared byte for
# byte with the committed golden.txt. Every build (x86-64, 64-bit Arm) must match it.
kaldro_add_test_suite(test_golden SOURCES golden_test.cpp)
target_compile_definitions(test_golden PRIVATE
  KALDRO_GOLDEN_FILE="${CMAKE_CURRENT_SOURCE_DIR}/golden.txt")
