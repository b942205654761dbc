# Tests of the kaldro tool, run as processes, and the install test (install into a
# temporary prefix, then build and run the examples through pkg-config and CMake).
find_package(OpenSSL REQUIRED)
kaldro_add_test_suite(test_tools SOURCES tools_test.cpp tools_genome_test.cpp LIBS OpenSSL::Crypto)
add_dependencies(test_tools kaldro_tool kaldro_manual)
get_target_property(tool_definitions kaldro_tool COMPILE_DEFINITIONS)
target_compile_definitions(test_tools PRIVATE ${tool_definitions}
  KALDRO_TOOL_PATH="$<TARGET_FILE:kaldro_tool>"
  KALDRO_MANUAL_PATH="${PROJECT_BINARY_DIR}/tools/kaldro.1")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  # The tests start the tool from a shell, so a cross-built tool runs behind the emulator.
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " tool_runner)
  target_compile_definitions(test_tools PRIVATE KALDRO_TOOL_RUNNER="${tool_runner} ")
endif()

# The install test builds the examples with the host's compilers and runs them, which a
# cross build cannot do.
if(CMAKE_CROSSCOMPILING)
  return()
endif()
set(install_flags "")
if(KALDRO_SANITIZE)
  set(install_flags "-fsanitize=address,undefined")
endif()
add_test(NAME tools_install
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${PROJECT_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR}/examples "${install_flags}")
set_tests_properties(tools_install PROPERTIES TIMEOUT 300)
