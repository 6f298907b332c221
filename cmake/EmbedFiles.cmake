# Writes a C++ source that holds the bytes of files as arrays, so the program
# needs no data files on disk. Run as a script:
#   cmake -DOUTPUT=out.cpp -DNAMES="a;b" -DFILES="/p/a;/p/b" -P EmbedFiles.cmake
# Each NAME becomes `extern const std::string_view <NAME>` in namespace tachora::embedded.
set(body "// Generated from resource files; do not edit.\n#include <string_view>\n\nnamespace tachora::embedded {\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET FILES ${i} file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR bytes "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
  string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n    " hex "${hex}")
  string(APPEND body "static const char ${name}_data[] = {\n    ${hex}'\\0'};\n")
  string(APPEND body "extern const std::string_view ${name};\nconst std::string_view ${name}(${name}_data, ${bytes});\n\n")
endforeach()
string(APPEND body "}  // namespace tachora::embedded\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
