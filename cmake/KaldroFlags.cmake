# Compiler settings shared by every target, and the per-file instruction-set flags.
# A source file named *_sse2, *_sse41, *_avx2, *_avx512, *_shani or *_x86_64_v3 is an
# instruction-set path: it gets that path's flags, and the dispatcher chooses it at run time.

set(KALDRO_COMMON_FLAGS -O2 -ffp-contract=off)
set(KALDRO_CXX_FLAGS -fno-exceptions -fno-rtti)
set(KALDRO_WARNINGS -Wall -Wextra -Werror)

if(KALDRO_SANITIZE)
  list(APPEND KALDRO_COMMON_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
       -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing: every object is instrumented for libFuzzer's coverage feedback; the fuzz
# targets themselves link the fuzzer's main (fuzz/CMakeLists.txt).
if(KALDRO_FUZZ)
  list(APPEND KALDRO_COMMON_FLAGS -fsanitize=fuzzer-no-link -Wno-ignored-attributes
       -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/fuzz/coverage-ignore.txt)
endif()

# Flags for code in the project's own targets (library, tool, tests, benchmarks).
function(kaldro_target_flags target)
  target_compile_options(${target} PRIVATE ${KALDRO_COMMON_FLAGS} ${KALDRO_WARNINGS}
                         $<$<COMPILE_LANGUAGE:CXX>:${KALDRO_CXX_FLAGS}>)
  if(KALDRO_FUZZ)
    # The ignore list is read by the compiler, so an edit to it must rebuild the objects.
    get_target_property(sources ${target} SOURCES)
    set_property(SOURCE ${sources} APPEND PROPERTY OBJECT_DEPENDS
                 ${CMAKE_SOURCE_DIR}/fuzz/coverage-ignore.txt)
  endif()
endfunction()

# Instruction-set flags by file-name suffix; only meaningful on x86-64.
set(KALDRO_X86 OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
  set(KALDRO_X86 ON)
endif()

function(kaldro_isa_flags)
  foreach(src IN LISTS ARGN)
    get_filename_component(stem ${src} NAME_WE)
    set(flags "")
    if(stem MATCHES "_sse2$")
      set(flags -msse2)
    elseif(stem MATCHES "_sse41$")
      set(flags -msse4.1)
    elseif(stem MATCHES "_shani$")
      set(flags -msse4.1 -msha)
    elseif(stem MATCHES "_avx2$")
      set(flags -mavx2 -mfma -mbmi2)
    elseif(stem MATCHES "_x86_64_v3$")
      set(flags -march=x86-64-v3)
    elseif(stem MATCHES "_avx512$")
      set(flags -mavx512f -mavx512bw -mavx512vl -mavx512vpopcntdq -mfma -mbmi2)
    endif()
    if(flags)
      set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "${flags}")
    endif()
  endforeach()
endfunction()
