# Turns the UI definition into a C++ source holding it as one string, so the program carries
# its windows and needs no file at run time.
# usage: cmake -DINPUT=file.ui -DOUTPUT=file.cpp -P embed_ui.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# a line break now and then keeps the generated file readable by editors
string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; do not edit.\n"
    "#include \"rodedudir_ui.h\"\n\n"
    "namespace rodedudir {\n\n"
    "namespace {\nconst unsigned char kDefinition[] = {\n    ${bytes}0x00};\n}  // namespace\n\n"
    "const char* const rodedudir_ui = reinterpret_cast<const char*>(kDefinition);\n\n"
    "}  // namespace rodedudir\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
