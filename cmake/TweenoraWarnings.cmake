# SPDX-License-Identifier: Apache-2.0
# tweenora_set_warnings(target): the warning flags every target of ours uses.
function(tweenora_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(TWEENORA_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
