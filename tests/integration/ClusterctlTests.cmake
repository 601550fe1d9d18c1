# End-to-end tests of the clusterctl binary against a simulated cluster started in the test.
cluster_add_gtest(clusterctl_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/clusterctl_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/clusterctl_output_tests.cpp
        ${CMAKE_CURRENT_LIST_DIR}/clusterctl_cli_tests.cpp
    LIBS clustersim child_process RapidJSON::RapidJSON
    TOOLS clusterctl
    PROPERTIES TIMEOUT 60)

# clusterctl's output formats on their own, written to strings.
cluster_add_gtest(clusterctl_output_unit_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/unit/test_clusterctl_output.cpp
    LIBS clusterctl_output RapidJSON::RapidJSON)

# What `find` keeps of a walk, what `du` tallies and prints and what `changes` makes of the
# feed's records, on entries made up in the test.
cluster_add_gtest(clusterctl_tree_report_tests
    SOURCES
        ${PROJECT_SOURCE_DIR}/tests/unit/test_find_filter.cpp
        ${PROJECT_SOURCE_DIR}/tests/unit/test_du_report.cpp
        ${PROJECT_SOURCE_DIR}/tests/unit/test_change_rows.cpp
    INCLUDES ${PROJECT_SOURCE_DIR}/tests/support
    LIBS clusterctl_tree_reports RapidJSON::RapidJSON)

# find, du and ls -R walking a generated tree: exact sets, resumes after SIGKILL, SIGTERM and
# Ctrl-C, locked checkpoints, failed and vanished directories.
cluster_add_gtest(clusterctl_walk_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/clusterctl_walk_tests.cpp
    INCLUDES ${CMAKE_CURRENT_LIST_DIR}
    LIBS clustersim clusterwalk child_process RapidJSON::RapidJSON
    TOOLS clusterctl
    PROPERTIES TIMEOUT 120)

# `changes` over snapshots of a small tree: the forms, the path lists read back by rsync, and a
# run killed and resumed.
cluster_add_gtest(clusterctl_changes_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/clusterctl_changes_tests.cpp
    INCLUDES ${CMAKE_CURRENT_LIST_DIR}
    LIBS clustersim child_process RapidJSON::RapidJSON
    TOOLS clusterctl
    PROPERTIES TIMEOUT 120)
