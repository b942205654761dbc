# Chromosome bundles: export and import, explode and pack, against bundle bytes built
# independently in the tests.
find_package(OpenSSL REQUIRED)
kaldro_add_test_suite(test_bundle
  SOURCES bundle_test.cpp bundle_explode_test.cpp bundle_pack_test.cpp
  LIBS OpenSSL::Crypto)
