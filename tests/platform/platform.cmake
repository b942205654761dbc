kaldro_add_test_suite(test_platform
  SOURCES platform_files_test.cpp platform_dir_test.cpp platform_threads_test.cpp
          platform_atomic_test.cpp)
