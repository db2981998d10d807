# zelkor_enable_warnings(<target>): the project's warning set, optionally fatal.
function(zelkor_enable_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual)
  if(ZELKOR_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Same set for C++ sources that include third-party headers (Qt, GoogleTest) with old-style casts.
function(zelkor_enable_warnings_relaxed target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ZELKOR_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
