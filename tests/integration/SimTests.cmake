# Tests of the simulated cluster itself, over real HTTP(S) on loopback.
add_executable(sim_tests
    ${CMAKE_CURRENT_LIST_DIR}/sim_client.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_cli_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_fault_tests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_tests.cpp
)
target_include_directories(sim_tests SYSTEM PRIVATE ${RAPIDJSON_INCLUDE_DIR})
target_compile_definitions(sim_tests PRIVATE CLUSTER_SIM_PATH="$<TARGET_FILE:cluster-sim>")
target_link_libraries(sim_tests PRIVATE clustersim CURL::libcurl GTest::gtest_main)
add_dependencies(sim_tests cluster-sim)
cluster_warnings(sim_tests)
gtest_discover_tests(sim_tests DISCOVERY_TIMEOUT 60)
