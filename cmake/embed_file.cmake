# Turns a file into a std::string_view in the program, so that what a
# service serves needs no file at run time.
#   cmake -DINPUT=FILE -DOUTPUT=FILE.cc -DNAMESPACE=ns -DSYMBOL=kName -P embed_file.cmake
include(${CMAKE_CURRENT_LIST_DIR}/byte_array.cmake)
nolva_byte_array("${INPUT}" bytes size)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <string_view>\n\n"
  "namespace ${NAMESPACE} {\n"
  "namespace {\n"
  "const char kBytes[] = {\n    ${bytes}'\\0'};\n"
  "}  // namespace\n"
  "extern const std::string_view ${SYMBOL};\n"
  "const std::string_view ${SYMBOL}(kBytes, ${size});\n"
  "}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
