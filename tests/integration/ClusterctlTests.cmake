# End-to-end tests of the clusterctl binary against a simulated cluster started in the test.
cluster_add_gtest(clusterctl_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/clusterctl_tests.cpp
    LIBS clustersim child_process RapidJSON::RapidJSON
    TOOLS clusterctl
    PROPERTIES TIMEOUT 60)
