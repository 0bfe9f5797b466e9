# The page as muller-explorer serves it, for the static site: web/index.html with the program's version
# and the deepest level filled in, as src/explorer/assets.cpp fills them in when the program starts.
# The level is read from the header that defines it, so that it is written once. Run at build time:
#   cmake -DINPUT=index.html -DOUTPUT=FILE -DVERSION=X.Y.Z -DWINDOW=src/map/window.hpp -P page.cmake
# (The policies of today: under the old ones a script expands @VERSION@ in its own quoted arguments.)
cmake_minimum_required(VERSION 3.25)
file(STRINGS "${WINDOW}" line REGEX "constexpr int deepest_level = [0-9]+")
string(REGEX MATCH "deepest_level = ([0-9]+)" found "${line}")
set(level "${CMAKE_MATCH_1}")
if(NOT found)
  message(FATAL_ERROR "${WINDOW} no longer defines deepest_level as page.cmake reads it")
endif()
file(READ "${INPUT}" page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@DEEPEST_LEVEL@" "${level}" page "${page}")
file(WRITE "${OUTPUT}.tmp" "${page}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
