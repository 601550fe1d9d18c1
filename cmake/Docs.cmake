# The API reference of the installed headers (cmake/Packaging.cmake lists them), with Doxygen:
# target `docs`, written to <build>/docs/html, failing on any Doxygen warning. Only where
# doxygen is installed; the test docs_build builds it with the rest of the suite.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
    message(STATUS "No target docs: doxygen not found (apt install doxygen)")
    return()
endif()

set(CLUSTER_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
set(docs_inputs ${PROJECT_SOURCE_DIR}/docs/mainpage.md ${CLUSTER_PUBLIC_HEADERS}
                ${CLUSTERWALK_PUBLIC_HEADERS} ${CLUSTER_PLATFORM_HEADERS} ${PROJECT_SOURCE_DIR}/platform/json_spirit/json_spirit.h)
list(JOIN docs_inputs " " CLUSTER_DOCS_INPUT)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${CLUSTER_DOCS_OUTPUT}/Doxyfile @ONLY)

add_custom_command(OUTPUT ${CLUSTER_DOCS_OUTPUT}/html/index.html
    # A failed run must not leave a stale page behind that counts as up to date.
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CLUSTER_DOCS_OUTPUT}/html
    COMMAND Doxygen::doxygen ${CLUSTER_DOCS_OUTPUT}/Doxyfile
    DEPENDS ${docs_inputs} ${CLUSTER_DOCS_OUTPUT}/Doxyfile ${PROJECT_SOURCE_DIR}/docs/comments.sed
    WORKING_DIRECTORY ${CLUSTER_DOCS_OUTPUT}
    COMMENT "Writing the API reference to ${CLUSTER_DOCS_OUTPUT}/html"
    VERBATIM)
add_custom_target(docs DEPENDS ${CLUSTER_DOCS_OUTPUT}/html/index.html)

if(CLUSTER_BUILD_TESTS)
    # Builds the same target in this tree; the lock keeps it from overlapping the packaging
    # test's build check in the same tree.
    add_test(NAME docs_build
             COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target docs)
    set_tests_properties(docs_build PROPERTIES TIMEOUT 300 RESOURCE_LOCK build_tree)
endif()
