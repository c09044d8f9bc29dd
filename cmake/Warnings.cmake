# One place for the warning flags, so every target of the tree is built the same way.
function(kfw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
  if(KFW_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
