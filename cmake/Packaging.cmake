# Install: public headers, the four shared libraries, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS clusterclient ZuUtils TnJsonLib tnlibcurl
        EXPORT ClusterClientTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(FILES
            Cluster/ClusterExport.h
            Cluster/ClusterConnection.h
            Cluster/ClusterParser.h
            Cluster/ClusterSnapshotQueries.h
            Cluster/ClusterFileSystemQueries.h
            Cluster/ClusterShares.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Cluster
        OPTIONAL)
install(FILES platform/ZuUtils.h platform/TnJson.h platform/TNLibCurl.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform)
install(FILES platform/json_spirit/json_spirit.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform/json_spirit)

set(CLUSTER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ClusterClient)
install(EXPORT ClusterClientTargets NAMESPACE ClusterClient:: DESTINATION ${CLUSTER_CMAKE_DIR})
configure_package_config_file(cmake/ClusterClientConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ClusterClientConfig.cmake
    INSTALL_DESTINATION ${CLUSTER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ClusterClientConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ClusterClientConfig.cmake
              ${PROJECT_BINARY_DIR}/ClusterClientConfigVersion.cmake
        DESTINATION ${CLUSTER_CMAKE_DIR})

# Relocatable: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH CLUSTER_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/clusterclient.pc.in ${PROJECT_BINARY_DIR}/clusterclient.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/clusterclient.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
