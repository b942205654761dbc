kaldro_add_test_suite(test_linalg SOURCES linalg_dense_test.cpp linalg_eigen_test.cpp
                      linalg_fiedler_test.cpp linalg_complex_test.cpp)
