# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAMESPACE=ns -DFUNCTION=name -P EmbedText.cmake
# Writes a C++ source whose function returns the bytes of INPUT as a std::string_view.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; edit that file, not this one.
#include <string_view>

namespace ${NAMESPACE} {
namespace {
constexpr unsigned char Bytes[${size} + 1] = {
    ${bytes}0x00};
} // namespace

std::string_view ${FUNCTION}() {
    return {reinterpret_cast<const char*>(Bytes), ${size}};
}
} // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
