#include "platform/ResourceString.h"

std::wstring LoadResourceString(UINT id)
{
    // With a zero capacity LoadStringW hands out a read-only pointer to the text itself, which is
    // not terminated in the table: the result is its length.
    const wchar_t* text = nullptr;
    const int length =
        ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || text == nullptr) {
        return {};
    }
    return std::wstring(text, static_cast<std::size_t>(length));
}
