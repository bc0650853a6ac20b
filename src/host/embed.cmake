# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed.cmake
# Writes a C++ source defining `extern const char vexlar::host::SYMBOL[]`
# (the file's bytes followed by a terminating 0) and SYMBOL##Size (the byte
# count without the 0).
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the initialiser into lines of 16 bytes to keep compilers happy.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}
"// Generated from ${name} at build time; do not edit.\n"
"#include <cstddef>\n"
"namespace vexlar {\nnamespace host {\n"
"extern const char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}Size;\n"
"const char ${SYMBOL}[] = {\n${bytes}0x00};\n"
"const std::size_t ${SYMBOL}Size = ${size};\n"
"} // namespace host\n} // namespace vexlar\n")
