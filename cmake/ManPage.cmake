# cluster_man_page(<target> NAME <what it is, one line> COMPONENT <install component>)
#
# Writes <target>.1.gz at build time from the tool's own --help with help2man, and installs it
# in man1. Left out, with a message, where the tool cannot run on this machine (a cross build),
# where it should not be installed from (a sanitized build) or where help2man is missing.
find_program(HELP2MAN_EXECUTABLE help2man)

function(cluster_man_page target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;COMPONENT" "")
    if(NOT arg_NAME OR NOT arg_COMPONENT)
        message(FATAL_ERROR "cluster_man_page(${target}): NAME and COMPONENT are required")
    endif()
    if(CMAKE_CROSSCOMPILING)
        message(STATUS "No man page for ${target}: cross compiling, it cannot run here")
        return()
    endif()
    if(CLUSTER_SANITIZED)
        message(STATUS "No man page for ${target}: a sanitized build is not for installing")
        return()
    endif()
    if(NOT HELP2MAN_EXECUTABLE)
        message(STATUS "No man page for ${target}: help2man not found (apt install help2man)")
        return()
    endif()

    # The version is the project's: the page does not depend on how --version words it.
    # gzip -n keeps the time stamp out, so the page is the same from build to build.
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1 "--name=${arg_NAME}"
                "--version-string=${PROJECT_VERSION}" --output=${page} $<TARGET_FILE:${target}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${target}
        COMMENT "Writing the man page of ${target}"
        VERBATIM)
    add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${arg_COMPONENT})
endfunction()
