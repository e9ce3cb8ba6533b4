# Writes OUT, the constants of the command reference (IN), one
# initializer a line ({"name", "text" or nullptr, number}), names lower-cased
# as the player looks them up, for vlasm's #NAME. The reference is made from
# what the libraries register and the cmdref test keeps it so.
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)
file(STRINGS "${IN}" lines REGEX "^Constants: ")
set(text "// Made from the command reference's constants by constant_names.cmake.\n")
foreach(line IN LISTS lines)
  string(REGEX MATCHALL "`#[A-Za-z0-9_]+` (\"[^\"]*\"|-?[0-9]+(\\.[0-9]+)?([eE][-+]?[0-9]+)?)" entries "${line}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^`#([A-Za-z0-9_]+)` .*$" "\\1" name "${entry}")
    string(REGEX REPLACE "^`#[A-Za-z0-9_]+` (.*)$" "\\1" value "${entry}")
    string(TOLOWER "${name}" name)
    if(value MATCHES "^\"")
      string(APPEND text "{\"${name}\", ${value}, 0},\n")
    else()
      string(APPEND text "{\"${name}\", nullptr, ${value}},\n")
    endif()
  endforeach()
endforeach()
write_if_changed("${OUT}" "${text}")
