# Writes OUT, the names of every command the reference's notes (NOTES) list,
# one C string a line, for vlasm's check of .call names.
file(READ "${NOTES}" notes)
# Only the names are taken as list items: the rest of a line may hold
# brackets and semicolons, which CMake lists do not keep.
string(REGEX MATCHALL "\n[a-z0-9_]+ \\|" rows "\n${notes}")
set(text "// Made from the command reference's notes by command_names.cmake.\n")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "\n([a-z0-9_]+) \\|" "\"\\1\",\n" entry "${row}")
  string(APPEND text "${entry}")
endforeach()
# Rewritten only when changed, so vlasm is not rebuilt for nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
