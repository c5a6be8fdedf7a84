# write_if_changed(<file> <content>): rewrites <file> only when its content differs, so an
# unrelated rebuild does not recompile what includes the generated source.
function(write_if_changed out content)
  if(EXISTS "${out}")
    file(READ "${out}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${out}" "${content}")
endfunction()
