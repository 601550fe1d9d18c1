# Install: public headers, the five shared libraries, a CMake package and pkg-config files.
# Each rule names its component, which is its Debian package (cmake/DebianPackages.cmake):
# runtime (the versioned libraries), dev (what builds against them) and tools (tools/).
include(CMakePackageConfigHelpers)

install(TARGETS clusterclient clusterwalk ZuUtils TnJsonLib tnlibcurl
        EXPORT ClusterClientTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The installed API; docs/ documents exactly these and the walking library's (cmake/Docs.cmake).
set(CLUSTER_PUBLIC_HEADERS
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterExport.h
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterConnection.h
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterParser.h
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterSnapshotQueries.h
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterFileSystemQueries.h
    ${PROJECT_SOURCE_DIR}/Cluster/ClusterShares.h
    ${PROJECT_BINARY_DIR}/include/Cluster/ClusterVersion.h)
set(CLUSTER_PLATFORM_HEADERS
    ${PROJECT_SOURCE_DIR}/platform/ZuUtils.h
    ${PROJECT_SOURCE_DIR}/platform/TnJson.h
    ${PROJECT_SOURCE_DIR}/platform/TNLibCurl.h)
install(FILES ${CLUSTER_PUBLIC_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Cluster COMPONENT dev)
set(CLUSTERWALK_PUBLIC_HEADERS
    ${PROJECT_SOURCE_DIR}/ClusterWalk/ChangeFeed.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/Checkpoint.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/ClusterWalkExport.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/Job.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/PageReader.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/Pager.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/RateLimit.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/ResilientSession.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/RetryPolicy.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/TreeWalker.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/UnitQueue.h
    ${PROJECT_SOURCE_DIR}/ClusterWalk/WalkUnit.h)
install(FILES ${CLUSTERWALK_PUBLIC_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ClusterWalk COMPONENT dev)
install(FILES ${CLUSTER_PLATFORM_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform COMPONENT dev)
install(FILES platform/json_spirit/json_spirit.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform/json_spirit COMPONENT dev)

set(CLUSTER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ClusterClient)
install(EXPORT ClusterClientTargets NAMESPACE ClusterClient:: DESTINATION ${CLUSTER_CMAKE_DIR}
        COMPONENT dev)
configure_package_config_file(cmake/ClusterClientConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ClusterClientConfig.cmake
    INSTALL_DESTINATION ${CLUSTER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ClusterClientConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ClusterClientConfig.cmake
              ${PROJECT_BINARY_DIR}/ClusterClientConfigVersion.cmake
        DESTINATION ${CLUSTER_CMAKE_DIR} COMPONENT dev)

# Relocatable: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH CLUSTER_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/clusterclient.pc.in ${PROJECT_BINARY_DIR}/clusterclient.pc @ONLY)
configure_file(cmake/clusterwalk.pc.in ${PROJECT_BINARY_DIR}/clusterwalk.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/clusterclient.pc ${PROJECT_BINARY_DIR}/clusterwalk.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

include(${CMAKE_CURRENT_LIST_DIR}/DebianPackages.cmake)
