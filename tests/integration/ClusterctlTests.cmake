# End-to-end tests of the clusterctl binary against a simulated cluster started in the test.
add_executable(clusterctl_tests ${CMAKE_CURRENT_LIST_DIR}/clusterctl_tests.cpp)
target_include_directories(clusterctl_tests SYSTEM PRIVATE ${RAPIDJSON_INCLUDE_DIR})
target_link_libraries(clusterctl_tests PRIVATE clustersim child_process GTest::gtest_main)
target_compile_definitions(clusterctl_tests PRIVATE CLUSTERCTL_PATH="$<TARGET_FILE:clusterctl>")
add_dependencies(clusterctl_tests clusterctl)
cluster_warnings(clusterctl_tests)
gtest_discover_tests(clusterctl_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
