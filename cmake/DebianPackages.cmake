# Debian packages from the install components, with CPack's DEB generator:
#   libclusterclient1      the five shared libraries and the Python package (component runtime)
#   libclusterclient-dev   headers, .so links, CMake package, pkg-config file (component dev)
#   clusterctl             clusterctl, cluster-sim, man pages, bash completion (component tools)
# Built by scripts/package (a Release build for /usr) or `cpack -G DEB` in any build tree.
set(cluster_deb_version ${PROJECT_VERSION}-1)
set(cluster_lib_package libclusterclient${PROJECT_VERSION_MAJOR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clusterclient)
set(CPACK_PACKAGE_VENDOR "clusterclient developers")
set(CPACK_PACKAGE_CONTACT "clusterclient developers <clusterclient@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPackDeb puts the package-wide summary above every component's description unless it is
# CPack's own default; each component's description starts with its own summary line instead.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)  # as Debian ships binaries: symbols go, the dynamic ones stay

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # NAME_VERSION-RELEASE_ARCH.deb

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${cluster_lib_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "client library for a storage cluster's REST API
Logs in to one cluster and lists, creates and deletes snapshots, reads the
changes between two snapshots page by page, lists SMB shares and NFS exports,
lists directories and reads file attributes. Every call returns an error
object; no exception leaves the library. Also holds clusterwalk, which
walks paged listings to their end, the three stand-in
platform libraries it is built on (ZuUtils, TnJsonLib, tnlibcurl) and,
where built with it, the Python package clusterclient for python3.")

if(CLUSTER_PYTHON_SUGGESTS)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "${CLUSTER_PYTHON_SUGGESTS}")
endif()

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libclusterclient-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${cluster_lib_package} (= ${cluster_deb_version}), libboost-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "client library for a storage cluster's REST API - development files
Headers, the unversioned library links, the CMake package
(find_package(ClusterClient)) and the pkg-config files (clusterclient,
clusterwalk).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME clusterctl)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${cluster_lib_package} (= ${cluster_deb_version})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line client and simulated cluster for a storage cluster's REST API
clusterctl lists and manages snapshots, directories, SMB shares and NFS
exports as tables, JSON or CSV. cluster-sim serves a simulated cluster over
HTTP(S) for trying clusterctl and testing host programs.")

# The shared-library dependencies are read off the binaries where dpkg-shlibdeps (dpkg-dev)
# can, which needs `file` too; else they are the ones this build links, as named on Debian 12.
# The tools' own library is found in the staged library package, whose version they pin above.
find_program(CLUSTER_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(CLUSTER_FILE_COMMAND file)
if(CLUSTER_DPKG_SHLIBDEPS AND CLUSTER_FILE_COMMAND)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
        ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
else()
    message(STATUS "dpkg-shlibdeps or file not found: the packages' library dependencies "
                   "are the fixed Debian 12 list")
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libcurl4")
    string(APPEND CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
           ", libc6, libgcc-s1, libstdc++6, libssl3, libcpp-httplib0.11")
endif()

# Debian wants each package's licence in its doc folder.
foreach(component runtime dev tools)
    string(TOUPPER ${component} upper)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
            RENAME copyright COMPONENT ${component})
endforeach()

include(CPack)
