# Writes OUT, the names of every command the reference's notes (IN) list,
# one C string a line, for vlasm's check of .call names.
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)
file(READ "${IN}" notes)
# Only the names are taken as list items: the rest of a line may hold
# brackets and semicolons, which CMake lists do not keep.
string(REGEX MATCHALL "\n[a-z0-9_]+ \\|" rows "\n${notes}")
set(text "// Made from the command reference's notes by command_names.cmake.\n")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "\n([a-z0-9_]+) \\|" "\"\\1\",\n" entry "${row}")
  string(APPEND text "${entry}")
endforeach()
write_if_changed("${OUT}" "${text}")
