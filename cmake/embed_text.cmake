# Turns a text file into a C++ source defining one std::string_view, so a file
# the program serves is built into it:
#   cmake -DINPUT=page.html -DOUTPUT=page.cpp -DNAME=kPage -DHEADER=service/web/page.h -P embed_text.cmake
file(READ "${INPUT}" content)
set(delimiter "KELVANE_TEXT")
string(FIND "${content}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string's closing delimiter")
endif()
file(WRITE "${OUTPUT}.tmp" "#include \"${HEADER}\"\n\nnamespace kelvane::web {\nconst std::string_view ${NAME} = R\"${delimiter}(")
file(APPEND "${OUTPUT}.tmp" "${content}")
file(APPEND "${OUTPUT}.tmp" ")${delimiter}\";\n}  // namespace kelvane::web\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
