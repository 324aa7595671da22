// Fixed-width fields in bounded byte spans: the one way every decoder of the service takes a
// value out of bytes it was handed (a file's headers, another process's memory, a record of the
// repair-pending file, registry data), and every encoder puts one in. Every format the service
// reads is little-endian, and so is every host it builds for: a field is its bytes as they lie.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

static_assert(std::endian::native == std::endian::little,
              "fields are copied byte for byte from little-endian data");

using ByteSpan = std::span<const std::uint8_t>;

// Bytes in a UTF-16 unit: the width of every text the service reads or writes.
inline constexpr std::size_t kUtf16UnitBytes = 2;

// Whether `size` bytes starting at `offset` lie wholly inside a span of `spanBytes`.
[[nodiscard]] constexpr bool FitsAt(std::size_t spanBytes, std::size_t offset, std::size_t size)
{
    return offset <= spanBytes && spanBytes - offset >= size;
}

// The T whose bytes lie at `offset` in `bytes`; nothing when they would run past its end.
template <typename T>
    requires std::is_trivially_copyable_v<T>
[[nodiscard]] std::optional<T> LoadField(ByteSpan bytes, std::size_t offset)
{
    if (!FitsAt(bytes.size(), offset, sizeof(T))) {
        return std::nullopt;
    }
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Puts the bytes of `value` at `offset` in `bytes`. False, with nothing written, when they would
// run past its end.
template <typename T>
    requires std::is_trivially_copyable_v<T>
bool StoreField(std::span<std::uint8_t> bytes, std::size_t offset, const T& value)
{
    if (!FitsAt(bytes.size(), offset, sizeof(T))) {
        return false;
    }
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
    return true;
}

// Puts into `text` (replacing what it held, keeping its capacity) the UTF-16 text in `bytes` up to
// its first terminator, or all of its whole units when it has none (an odd last byte is no unit).
// Returns whether a terminator ended it.
inline bool LoadUtf16Into(ByteSpan bytes, std::wstring& text)
{
    const std::size_t units = bytes.size() / kUtf16UnitBytes;
    std::size_t length = 0;
    while (length < units && (bytes[length * kUtf16UnitBytes] != 0 ||
                              bytes[length * kUtf16UnitBytes + 1] != 0)) {
        ++length;
    }
    text.resize(length);
    for (std::size_t unit = 0; unit < length; ++unit) {
        text[unit] = static_cast<wchar_t>(bytes[unit * kUtf16UnitBytes] |
                                          bytes[unit * kUtf16UnitBytes + 1] << 8);
    }
    return length < units;
}

// The text that LoadUtf16Into gives; `terminated`, when given, says whether a terminator ended it.
[[nodiscard]] inline std::wstring LoadUtf16(ByteSpan bytes, bool* terminated = nullptr)
{
    std::wstring text;
    const bool ended = LoadUtf16Into(bytes, text);
    if (terminated != nullptr) {
        *terminated = ended;
    }
    return text;
}

// Puts `text` as UTF-16 units at the start of `bytes`, without a terminator. False, with nothing
// written, when it does not fit.
inline bool StoreUtf16(std::span<std::uint8_t> bytes, std::wstring_view text)
{
    if (text.size() > bytes.size() / kUtf16UnitBytes) {
        return false;
    }
    for (std::size_t unit = 0; unit < text.size(); ++unit) {
        StoreField(bytes, unit * kUtf16UnitBytes, static_cast<std::uint16_t>(text[unit]));
    }
    return true;
}
