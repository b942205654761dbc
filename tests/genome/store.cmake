# Genome store: save, catalog, load, windows and edits, and the crash test of saves.
find_package(OpenSSL REQUIRED)
kaldro_add_test_suite(test_store
  SOURCES store_test.cpp store_edit_test.cpp store_crash_test.cpp
  LIBS OpenSSL::Crypto)
