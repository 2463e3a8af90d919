# Writes a C++ source that holds a text file as a NUL-terminated char array.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DNAMESPACE=a::b -DSYMBOL=kName -P EmbedText.cmake
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
     "// Generated from ${name} at build time; edit that file instead.\n"
     "namespace ${NAMESPACE} {\n"
     "extern const char ${SYMBOL}[];\n"
     "const char ${SYMBOL}[] = {\n    ${bytes}0x00};\n"
     "}  // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
