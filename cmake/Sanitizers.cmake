# Sanitizers for the whole build, as one list for -fsanitize= (CLUSTER_SANITIZE, e.g.
# "address,undefined" or "thread"). CLUSTER_FUZZ implies address,undefined and adds libFuzzer's
# coverage. CLUSTER_SANITIZED tells the tests that cannot run under a sanitizer runtime to stay out.
set(CLUSTER_SANITIZE "" CACHE STRING
    "Sanitizers to build with, as -fsanitize= lists them (address,undefined or thread); empty: none")

set(cluster_sanitizers "${CLUSTER_SANITIZE}")
if(CLUSTER_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "CLUSTER_FUZZ needs clang (libFuzzer): configure with CXX=clang++ "
                            "or the preset fuzz")
    endif()
    if(cluster_sanitizers STREQUAL "")
        set(cluster_sanitizers address,undefined)
    endif()
    # Every object, the library's included, carries coverage for libFuzzer.
    add_compile_options(-fsanitize=fuzzer-no-link
                        -fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/tests/fuzz/sanitizer-ignorelist.txt)
endif()

if(cluster_sanitizers STREQUAL "")
    set(CLUSTER_SANITIZED OFF)
else()
    set(CLUSTER_SANITIZED ON)
    add_compile_options(-fsanitize=${cluster_sanitizers} -fno-omit-frame-pointer)
    # A finding stops the test; ThreadSanitizer is told so through TSAN_OPTIONS instead.
    if(NOT cluster_sanitizers STREQUAL "thread")
        add_compile_options(-fno-sanitize-recover=all)
    endif()
    add_link_options(-fsanitize=${cluster_sanitizers})
endif()
