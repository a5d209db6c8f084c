# Writes OUTPUT, a C++ source defining each of the files NAMES=PATH|... as a
# std::string_view selquant::assets::NAME, at build time: the page the
# program writes needs nothing at run time.
set(text "// Made at build time from the page's files; not edited.\n#include \"formats/assets.hpp\"\n\nnamespace selquant::assets {\n")
string(REPLACE "|" ";" pairs "${NAMES}")
foreach(pair IN LISTS pairs)
  string(REPLACE "=" ";" fields "${pair}")
  list(GET fields 0 name)
  list(GET fields 1 path)
  file(READ "${path}" content)
  string(FIND "${content}" ")asset\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${path} holds the raw string's end mark")
  endif()
  string(APPEND text "const std::string_view ${name} = R\"asset(${content})asset\";\n")
endforeach()
string(APPEND text "}  // namespace selquant::assets\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
