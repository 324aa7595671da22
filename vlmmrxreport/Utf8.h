// The tool's output encoding. Texts are UTF-16 units held in wchar_t (2 bytes on Windows, 4
// natively); the output is UTF-8 in both builds, with surrogate pairs combined.
#pragma once

#include <string>
#include <string_view>

// Appends `units` to `out` as UTF-8. A surrogate without its partner, or a value that is no code
// point, becomes U+FFFD: a path recorded from a process may hold any 16-bit units.
void AppendUtf8(std::string& out, std::wstring_view units);

// `units` as UTF-8, as AppendUtf8 writes it.
[[nodiscard]] std::string Utf8(std::wstring_view units);

// UTF-8 `text` as UTF-16 units (surrogate pairs for code points above U+FFFF); a byte that starts
// no valid sequence becomes U+FFFD.
[[nodiscard]] std::wstring Utf16(std::string_view text);
