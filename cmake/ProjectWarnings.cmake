# The project's own targets build warning-free; third-party headers come in as system includes.
function(cluster_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
