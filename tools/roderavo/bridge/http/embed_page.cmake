# Writes the page's files into a C++ source as raw strings (cmake -P, at build time, so
# an edit of the page rebuilds the bridge): -DPAGE=<folder> -DOUT=<file.cpp>.
set(files "/|text/html|index.html" "/app.js|text/javascript|app.js" "/app.css|text/css|app.css")
set(entries "")
foreach(file ${files})
  string(REPLACE "|" ";" parts "${file}")
  list(GET parts 0 path)
  list(GET parts 1 type)
  list(GET parts 2 name)
  file(READ "${PAGE}/${name}" body)
  string(FIND "${body}" ")page\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${PAGE}/${name} holds )page\": it would end the raw string")
  endif()
  string(APPEND entries "    {\"${path}\", \"${type}; charset=utf-8\", R\"page(${body})page\"},\n")
endforeach()
file(WRITE "${OUT}.new" "// Made by the build from tools/roderavo/bridge/http/page/: do not edit.
#include \"bridge/http/page_files.h\"

namespace roderavo::tool::bridge {

namespace {

constexpr PageFile kFiles[] = {
${entries}};

}  // namespace

std::span<const PageFile> PageFiles() {
    return kFiles;
}

}  // namespace roderavo::tool::bridge
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
