# The Python bindings' tests: one ctest entry per unittest module, each run by
# `python3 -m unittest` against the shared library just built.
if(CMAKE_CROSSCOMPILING)
  message(STATUS "cross build: the host's python3 cannot load the library, the Python binding tests are left out")
  return()
endif()
find_package(Python3 3.9 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "python3 not found: the Python binding tests are left out")
  return()
endif()

set(kaldro_python_env
    "KALDRO_LIBRARY=$<TARGET_FILE:kaldro>"
    "PYTHONPATH=${PROJECT_SOURCE_DIR}/bindings/python"
    "PYTHONDONTWRITEBYTECODE=1")
if(KALDRO_SANITIZE)
  # An instrumented library can only be loaded into the interpreter with the sanitizer
  # runtime preloaded; the interpreter's own allocations are not leak-checked.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE kaldro_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
                  OUTPUT_VARIABLE kaldro_ubsan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND kaldro_python_env
       "LD_PRELOAD=${kaldro_asan_runtime}:${kaldro_ubsan_runtime}"
       "ASAN_OPTIONS=detect_leaks=0")
endif()

file(GLOB kaldro_python_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.py)
foreach(test_file IN LISTS kaldro_python_tests)
  get_filename_component(module ${test_file} NAME_WE)
  add_test(NAME python.${module}
           COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(python.${module} PROPERTIES ENVIRONMENT "${kaldro_python_env}"
                       TIMEOUT 300)
endforeach()
