#include "vlmmrxreport/Utf8.h"

#include <type_traits>

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
