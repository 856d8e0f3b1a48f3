#pragma once
// Fixed-size text fields of the Win32 structures: read up to the first NUL and never past the
// field's end; written cut to fit, always NUL-terminated.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace brindlecove {

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, std::find(field, field + N, '\0'));
}

template <std::size_t N>
void SetFieldText(char (&field)[N], std::string_view text) {
    static_assert(N > 0);
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = '\0';
}

} // namespace brindlecove
