# Turns one file into a C++ source that defines its bytes, so that the program serves its page and
# Leaflet from memory and reads no file at run time. Run at build time:
#   cmake -DINPUT=FILE -DOUTPUT=SOURCE.cpp -DSYMBOL=NAME -DPATH=URL_PATH -P embed.cmake
# SOURCE.cpp defines `const WebFile NAME` (web_files.hpp), served at /URL_PATH.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes to a line, each as 0xNN: short lines keep compilers and editors at ease. (CMake's
# regular expressions have no counted repetition, so the line's pattern is spelled out.)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
# The array has one byte more than the file, a 0, so that an empty file still makes a legal array.
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/embed.cmake; edit that file, not this one.\n"
  "#include \"explorer/web_files.hpp\"\n\n"
  "namespace {\n"
  "const unsigned char bytes[${size} + 1] = {\n${bytes}0};\n"
  "}  // namespace\n\n"
  "namespace muller::explorer {\n"
  "extern const WebFile ${SYMBOL};\n"
  "const WebFile ${SYMBOL}{\"${PATH}\", bytes, ${size}};\n"
  "}  // namespace muller::explorer\n")
# Only a changed file makes its object rebuild.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
