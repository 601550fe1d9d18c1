# Tests of the simulated cluster itself, over real HTTP(S) on loopback.
cluster_add_gtest(sim_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/sim_client.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_cli_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_fault_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_realism_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_state_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_tests.cpp
    LIBS clustersim child_process CURL::libcurl RapidJSON::RapidJSON
    TOOLS cluster-sim)

# The generated tree under /synthetic and its generated changes, in a process of its own: one
# case checks the process's peak memory while a tree of a hundred million entries is served.
cluster_add_gtest(sim_synthetic_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/sim_client.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_synthetic_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/sim_synthetic_changes_tests.cpp
    LIBS clustersim child_process CURL::libcurl RapidJSON::RapidJSON
    TOOLS cluster-sim)
