# cluster_add_gtest(<name> SOURCES src... [LIBS lib...] [INCLUDES dir...] [DEFINITIONS def...]
#                   [TOOLS tool...] [LABELS label...] [PROPERTIES prop value...])
#
# A GoogleTest executable linked with gtest_main, built warning-free, its cases discovered as
# ctest tests. Each TOOLS target is built first and its path handed in as <TOOL>_PATH
# (clusterctl: CLUSTERCTL_PATH, cluster-sim: CLUSTER_SIM_PATH). LABELS and PROPERTIES go on
# every discovered case.
include(GoogleTest)

function(cluster_add_gtest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg ""
        "" "SOURCES;LIBS;INCLUDES;DEFINITIONS;TOOLS;LABELS;PROPERTIES")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "cluster_add_gtest(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "cluster_add_gtest(${name}): no SOURCES")
    endif()

    add_executable(${name} ${arg_SOURCES})
    target_include_directories(${name} PRIVATE ${arg_INCLUDES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
    foreach(tool IN LISTS arg_TOOLS)
        string(TOUPPER "${tool}_PATH" macro)
        string(REPLACE "-" "_" macro "${macro}")
        target_compile_definitions(${name} PRIVATE ${macro}="$<TARGET_FILE:${tool}>")
        add_dependencies(${name} ${tool})
    endforeach()
    cluster_warnings(${name})

    set(properties ${arg_PROPERTIES})
    if(arg_LABELS)
        # One value: several labels travel as one ;-list through the discovery script.
        string(REPLACE ";" "\\;" labels "${arg_LABELS}")
        list(APPEND properties LABELS "${labels}")
    endif()
    if(properties)
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
