# write_if_changed(PATH TEXT): writes TEXT to PATH only when it differs, so
# what depends on PATH is not rebuilt for nothing.
function(write_if_changed path text)
  set(old "")
  if(EXISTS "${path}")
    file(READ "${path}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()
