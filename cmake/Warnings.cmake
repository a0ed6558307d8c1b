# lumet_warnings(target): the warning set for code we write ourselves.
function(lumet_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(LUMET_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
