# Writes OUTPUT, a C++ source whose builtInPage() returns the text of INPUT (the live page), so
# that an installed program serves its page without a file of its own.
file(READ ${INPUT} page)
set(delimiter "livepage")
string(FIND "${page}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds )${delimiter}\", which ends the raw string it goes into")
endif()
file(WRITE ${OUTPUT}.new "#include \"httpapi.h\"\n\nnamespace panelsim {\n\nconst std::string& builtInPage() {\n    static const std::string page = R\"${delimiter}(${page})${delimiter}\";\n    return page;\n}\n\n}  // namespace panelsim\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
