#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr unsigned kSurrogateBits = 10;
constexpr unsigned kContinuationBits = 6;
constexpr char32_t kContinuationMask = 0x3F;
constexpr char32_t kContinuationMark = 0x80;
// The largest code point of each encoded length, and the mark of the leading byte of that length.
constexpr char32_t kLargestOneByte = 0x7F;
constexpr char32_t kLargestTwoBytes = 0x7FF;
constexpr char32_t kLargestThreeBytes = 0xFFFF;
constexpr char32_t kTwoBytesMark = 0xC0;
constexpr char32_t kThreeBytesMark = 0xE0;
constexpr char32_t kFourBytesMark = 0xF0;

char32_t UnitAt(std::wstring_view units, std::size_t index)
{
    // Unsigned first, so that a negative 32-bit wchar_t is no code point rather than a small one.
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(units[index]));
}

bool IsHighSurrogate(char32_t unit)
{
    return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}

bool IsLowSurrogate(char32_t unit) { return unit >= kLowSurrogateFirst && unit < kSurrogateEnd; }

char Continuation(char32_t point, unsigned shift)
{
    return static_cast<char>(kContinuationMark | ((point >> shift) & kContinuationMask));
}

void AppendCodePoint(std::string& out, char32_t point)
{
    if (point <= kLargestOneByte) {
        out.push_back(static_cast<char>(point));
    } else if (point <= kLargestTwoBytes) {
        out.push_back(static_cast<char>(kTwoBytesMark | (point >> kContinuationBits)));
        out.push_back(Continuation(point, 0));
    } else if (point <= kLargestThreeBytes) {
        out.push_back(static_cast<char>(kThreeBytesMark | (point >> (2 * kContinuationBits))));
        out.push_back(Continuation(point, kContinuationBits));
        out.push_back(Continuation(point, 0));
    } else {
        out.push_back(static_cast<char>(kFourBytesMark | (point >> (3 * kContinuationBits))));
        out.push_back(Continuation(point, 2 * kContinuationBits));
        out.push_back(Continuation(point, kContinuationBits));
        out.push_back(Continuation(point, 0));
    }
}

}  // namespace

void AppendUtf8(std::string& out, std::wstring_view units)
{
    for (std::size_t index = 0; index < units.size(); ++index) {
        // A run of ASCII, the usual path, in one piece.
        std::size_t end = index;
        while (end < units.size() && UnitAt(units, end) <= kLargestOneByte) {
            ++end;
        }
        if (end > index) {
            const std::size_t start = out.size();
            out.resize(start + (end - index));
            std::transform(units.begin() + static_cast<std::ptrdiff_t>(index),
                           units.begin() + static_cast<std::ptrdiff_t>(end), out.begin() +
                           static_cast<std::ptrdiff_t>(start),
                           [](wchar_t unit) { return static_cast<char>(unit); });
            index = end;
            if (index == units.size()) {
                return;
            }
        }
        char32_t point = UnitAt(units, index);
        if (IsHighSurrogate(point) && index + 1 < units.size() &&
            IsLowSurrogate(UnitAt(units, index + 1))) {
            point = kFirstSupplementary + ((point - kHighSurrogateFirst) << kSurrogateBits) +
                    (UnitAt(units, ++index) - kLowSurrogateFirst);
        } else if (IsHighSurrogate(point) || IsLowSurrogate(point) || point > kLastCodePoint) {
            point = kReplacement;
        }
        AppendCodePoint(out, point);
    }
}

std::string Utf8(std::wstring_view units)
{
    std::string out;
    AppendUtf8(out, units);
    return out;
}

namespace {

constexpr unsigned char kContinuationTag = 0xC0;
constexpr unsigned char kLeadingTwo = 0xE0;
constexpr unsigned char kLeadingThree = 0xF0;
constexpr unsigned char kLeadingFour = 0xF8;

// The length a leading byte announces and its payload bits; 0 for a byte that leads nothing.
std::pair<std::size_t, char32_t> Leading(unsigned char byte)
{
    if (byte <= kLargestOneByte) {
        return {1, byte};
    }
    if ((byte & kLeadingTwo) == kTwoBytesMark) {
        return {2, byte & 0x1Fu};
    }
    if ((byte & kLeadingThree) == kThreeBytesMark) {
        return {3, byte & 0x0Fu};
    }
    if ((byte & kLeadingFour) == kFourBytesMark) {
        return {4, byte & 0x07u};
    }
    return {0, 0};
}

// The smallest code point that a sequence of each length may encode (shorter forms are invalid).
constexpr char32_t kSmallestOf[] = {0, 0, kLargestOneByte + 1, kLargestTwoBytes + 1,
                                    kFirstSupplementary};

}  // namespace

std::wstring Utf16(std::string_view text)
{
    std::wstring units;
    for (std::size_t index = 0; index < text.size();) {
        auto [length, point] = Leading(static_cast<unsigned char>(text[index]));
        bool valid = length != 0 && index + length <= text.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto byte = static_cast<unsigned char>(text[index + next]);
            valid = (byte & kContinuationTag) == kContinuationMark;
            point = point << kContinuationBits | (byte & kContinuationMask);
        }
        valid = valid && point >= kSmallestOf[length] && point <= kLastCodePoint &&
                !(point >= kHighSurrogateFirst && point < kSurrogateEnd);
        if (!valid) {
            units.push_back(static_cast<wchar_t>(kReplacement));
            ++index;
            continue;
        }
        index += length;
        if (point >= kFirstSupplementary) {
            point -= kFirstSupplementary;
            units.push_back(static_cast<wchar_t>(kHighSurrogateFirst + (point >> kSurrogateBits)));
            units.push_back(static_cast<wchar_t>(kLowSurrogateFirst + (point & 0x3FF)));
        } else {
            units.push_back(static_cast<wchar_t>(point));
        }
    }
    return units;
}
