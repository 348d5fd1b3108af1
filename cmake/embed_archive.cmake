# SPDX-License-Identifier: Apache-2.0
# cmake -DARCHIVE=<file> -DOUTPUT=<file.cpp> -P embed_archive.cmake
#
# Writes a C++ source that defines the archive's bytes as an array, for
# compilers without a GNU-style assembler (.incbin). The array ends with one
# extra zero byte, so an empty archive still gives a valid definition.
file(READ "${ARCHIVE}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# 16 bytes to a line keeps the compiler's lines short (CMake's regular
# expressions have no counted repeats: the pattern spells out all 16).
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.part"
    "// Generated from ${ARCHIVE}; do not edit.\n"
    "#include <cstdint>\n\n"
    "extern \"C\" {\n"
    "extern const unsigned char tweenora_model_archive_begin[];\n"
    "extern const uint64_t tweenora_model_archive_size;\n\n"
    "alignas(64) const unsigned char tweenora_model_archive_begin[] = {\n"
    "${bytes}0};\n"
    "const uint64_t tweenora_model_archive_size = ${size}u;\n"
    "}\n")
# Renamed whole, so an interrupted build never leaves half a source behind.
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
