# What a cross build takes from the build machine. Boost (as used here) and RapidJSON are
# header-only and the same for every processor, so the build machine's copies serve. Only
# those two directories are exposed, through a folder of links in the build tree: putting
# /usr/include itself on the path would let the build machine's C library headers shadow the
# cross ones.
set(CLUSTER_HOST_INCLUDE_DIR /usr/include CACHE PATH
    "Where the build machine's Boost and RapidJSON headers are")
set(cluster_header_links ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${cluster_header_links})
foreach(library boost rapidjson)
    if(NOT IS_DIRECTORY ${CLUSTER_HOST_INCLUDE_DIR}/${library})
        message(FATAL_ERROR "${CLUSTER_HOST_INCLUDE_DIR}/${library} is missing: run scripts/setup")
    endif()
    file(CREATE_LINK ${CLUSTER_HOST_INCLUDE_DIR}/${library} ${cluster_header_links}/${library}
         SYMBOLIC)
endforeach()

add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${cluster_header_links})
# RapidJSON::RapidJSON is made from this directory as in a native build.
set(RAPIDJSON_INCLUDE_DIR ${cluster_header_links})

# GoogleTest is built from the sources Debian's libgtest-dev installs; no cross package exists.
function(cluster_cross_gtest)
    set(BUILD_GMOCK OFF)
    set(INSTALL_GTEST OFF)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()
