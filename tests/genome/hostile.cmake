# Hostile genome directories and bundle files: hand-edited manifests and bundles,
# truncated and oversized files, directories in place of files, long paths and labels
# that are no file names, and a genome edited ten thousand times.
find_package(OpenSSL REQUIRED)
kaldro_add_test_suite(test_hostile SOURCES hostile_test.cpp LIBS OpenSSL::Crypto)
