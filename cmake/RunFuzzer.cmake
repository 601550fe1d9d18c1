# cmake -DFUZZER=<binary> -DCORPUS=<dir> -DWORK=<dir> -DSECONDS=<n> -P RunFuzzer.cmake
#
# Runs one libFuzzer target for SECONDS (the environment's CLUSTER_FUZZ_SECONDS wins) on a
# scratch copy of its checked-in corpus, so that corpus never grows. A crash, leak, hang
# (10 s for one input) or broken check fails; the input is kept in WORK/artifacts/ and the
# whole output in WORK/logs/.
foreach(variable FUZZER CORPUS WORK SECONDS)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "RunFuzzer.cmake: ${variable} is not set")
    endif()
endforeach()
if(DEFINED ENV{CLUSTER_FUZZ_SECONDS} AND NOT "$ENV{CLUSTER_FUZZ_SECONDS}" STREQUAL "")
    set(SECONDS $ENV{CLUSTER_FUZZ_SECONDS})
endif()

get_filename_component(target ${FUZZER} NAME)
set(scratch ${WORK}/corpus/${target})
set(log ${WORK}/logs/${target}.log)
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch} ${WORK}/artifacts ${WORK}/logs)
file(GLOB inputs ${CORPUS}/*)
file(COPY ${inputs} DESTINATION ${scratch})

execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10
            -artifact_prefix=${WORK}/artifacts/${target}- -print_final_stats=1 ${scratch}
    OUTPUT_FILE ${log} ERROR_FILE ${log}
    RESULT_VARIABLE result)
file(REMOVE_RECURSE ${scratch})

file(STRINGS ${log} lines)
if(NOT result EQUAL 0)
    list(LENGTH lines count)
    math(EXPR first "${count} - 40")
    if(first LESS 0)
        set(first 0)
    endif()
    list(SUBLIST lines ${first} 40 tail)
    list(JOIN tail "\n" tail)
    message(FATAL_ERROR "${target}: FAILED (${result}), log: ${log}\n${tail}")
endif()
# The last status line: "#<runs> DONE cov: <edges> ft: <features> corp: ...".
set(status "")
foreach(line IN LISTS lines)
    if(line MATCHES "^#[0-9]+")
        set(status "${line}")
    endif()
endforeach()
message("${target}: ${SECONDS} s, ${status}")
