# cmake -DOUT=<file.cpp> -DFILES=<a|b|...> -P EmbedFiles.cmake
# Writes a C++ source that holds each file's bytes and a table of them by
# file name, for EmbeddedFiles() (server/console/Assets.h).
set(arrays "")
set(table "")
set(index 0)
string(REPLACE "|" ";" FILES "${FILES}")
foreach(path IN LISTS FILES)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," values "${hex}")
  get_filename_component(name "${path}" NAME)
  string(APPEND arrays "const unsigned char kFile${index}[] = {${values}0};\n")
  string(APPEND table
    "      {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${bytes}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp"
  "// Made by EmbedFiles.cmake from server/console/page at build time.\n"
  "#include \"server/console/Assets.h\"\n\n"
  "namespace quor::server::console {\nnamespace {\n\n"
  "${arrays}\n"
  "}  // namespace\n\n"
  "std::span<const EmbeddedFile> EmbeddedFiles() {\n"
  "  static const EmbeddedFile kFiles[] = {\n${table}  };\n"
  "  return kFiles;\n}\n\n"
  "}  // namespace quor::server::console\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
