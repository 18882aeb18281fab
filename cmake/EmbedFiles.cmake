# SPDX-License-Identifier: MIT
# Run with cmake -P: writes OUTPUT, a C++ source that defines one std::string_view function per file.
#   -DOUTPUT=out.cpp -DNAMESPACE=korvel -DFILES="Name1=path1|Name2=path2"
set(source "// Generated from the files named below; edit those, not this.\n#include <string_view>\n\nnamespace ${NAMESPACE} {\n")
string(REPLACE "|" ";" FILES "${FILES}")
foreach(entry IN LISTS FILES)
  string(REGEX MATCH "^([A-Za-z0-9_]+)=(.*)$" _ "${entry}")
  set(name "${CMAKE_MATCH_1}")
  set(path "${CMAKE_MATCH_2}")
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  # Byte lists rather than string literals: no literal length limit and no escaping to get wrong.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REGEX REPLACE "(('[^']*',){40})" "\\1\n" bytes "${bytes}")
  string(APPEND source "\n// ${path}\nstd::string_view ${name}() {\n    static constexpr char kBytes[] = {\n${bytes}'\\0'};\n"
                       "    return {kBytes, ${size}};\n}\n")
endforeach()
string(APPEND source "\n}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUTPUT}.tmp" "${source}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
