#include "vlmmrxreport/TextOut.h"

#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::size_t kPiece = 1 << 18;  // handed on in pieces of about 256 KiB
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kBitsPerHexDigit = 4;
constexpr unsigned kMostHexDigits = 16;
constexpr unsigned kEscapeDigits = 4;
constexpr std::size_t kDecimalDigits = 20;  // of the largest 64-bit number
constexpr unsigned kControlLimit = 0x20;
constexpr std::string_view kCsvSpecials = ",\"\r\n";
constexpr std::uint64_t kKibibyte = 1024;
constexpr std::string_view kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
constexpr std::uint64_t kTenths = 10;

// Appends `field` quoted when it holds a CSV special, its quotes doubled.
void PutCsvField(std::string& out, std::size_t start)
{
    if (out.find_first_of(kCsvSpecials, start) == std::string::npos) {
        return;
    }
    const std::string field = out.substr(start);
    out.resize(start);
    out.push_back('"');
    for (const char byte : field) {
        out.append(byte == '"' ? 2 : 1, byte);
    }
    out.push_back('"');
}

void PutHtmlCharacter(std::string& out, char character)
{
    switch (character) {
    case '&':
        out += "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case '\'':
        out += "&#39;";
        break;
    default:
        out.push_back(character);
    }
}

}  // namespace

TextOut::~TextOut() { Wait(); }

void TextOut::Wait()
{
    if (written_.valid()) {
        failed_ = !written_.get() || failed_;
    }
}

void TextOut::HandOn()
{
    Wait();
    std::swap(text_, writing_);
    text_.clear();
    written_ = std::async(std::launch::async, [this] { return writer_(writing_); });
}

void TextOut::Commit()
{
    if (text_.size() >= kPiece) {
        HandOn();
    }
}

bool TextOut::Finish()
{
    Wait();
    if (!text_.empty()) {  // the last piece on this thread: nothing is left to overlap with it
        failed_ = !writer_(text_) || failed_;
        text_.clear();
    }
    return !failed_;
}

void Put(std::string& out, std::string_view text) { out += text; }

void Put(std::string& out, std::wstring_view text) { AppendUtf8(out, text); }

void Put(std::string& out, std::uint64_t number)
{
    char digits[kDecimalDigits];
    out.append(digits, std::to_chars(digits, digits + kDecimalDigits, number).ptr);
}

void Put(std::string& out, Hex hex)
{
    char digits[2 + kMostHexDigits] = {'0', 'x'};
    const unsigned count = std::min(hex.digits, kMostHexDigits);
    for (unsigned digit = 0; digit < count; ++digit) {
        const unsigned shift = (count - 1 - digit) * kBitsPerHexDigit;
        digits[2 + digit] = kHexDigits[(hex.value >> shift) & 0xF];
    }
    out.append(digits, 2 + count);
}

void Put(std::string& out, ShortHex hex)
{
    unsigned digits = 1;
    while (digits < 16 && (hex.value >> (digits * kBitsPerHexDigit)) != 0) {
        ++digits;
    }
    Put(out, Hex{hex.value, digits});
}

void Put(std::string& out, JsonText json)
{
    const std::wstring_view text = json.text;
    out.push_back('"');
    std::size_t run = 0;  // the start of the units not yet written
    for (std::size_t index = 0; index < text.size(); ++index) {
        const wchar_t unit = text[index];
        const bool control = static_cast<std::uint32_t>(unit) < kControlLimit;
        if (unit != L'"' && unit != L'\\' && !control) {
            continue;
        }
        AppendUtf8(out, text.substr(run, index - run));
        run = index + 1;
        if (control) {
            out += "\\u";
            Put(out, Hex{static_cast<std::uint64_t>(unit), kEscapeDigits});
            out.erase(out.size() - kEscapeDigits - 2, 2);  // the "0x"
        } else {
            out.push_back('\\');
            out.push_back(static_cast<char>(unit));
        }
    }
    AppendUtf8(out, text.substr(run));
    out.push_back('"');
}

void Put(std::string& out, Utf8JsonText json)
{
    out.push_back('"');
    for (const char byte : json.text) {
        if (static_cast<unsigned char>(byte) < kControlLimit) {
            out += "\\u00";
            out.push_back(kHexDigits[static_cast<unsigned char>(byte) >> kBitsPerHexDigit]);
            out.push_back(kHexDigits[static_cast<unsigned char>(byte) & 0xF]);
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
        }
        out.push_back(byte);
    }
    out.push_back('"');
}

void Put(std::string& out, CsvText csv)
{
    const std::size_t start = out.size();
    AppendUtf8(out, csv.text);
    PutCsvField(out, start);
}

void Put(std::string& out, Utf8CsvText csv)
{
    const std::size_t start = out.size();
    out += csv.text;
    PutCsvField(out, start);
}

void Put(std::string& out, Utf8HtmlText html)
{
    for (const char character : html.text) {
        PutHtmlCharacter(out, character);
    }
}

void Put(std::string& out, HtmlText html) { Put(out, Utf8HtmlText{Utf8(html.text)}); }

std::string HumanBytes(std::uint64_t bytes)
{
    std::string out;
    if (bytes < kKibibyte) {
        Append(out, bytes, " bytes");
        return out;
    }
    std::size_t unit = 0;
    // In tenths of the unit, without overflowing for the largest sizes.
    std::uint64_t scaled = bytes / kKibibyte * kTenths + bytes % kKibibyte * kTenths / kKibibyte;
    for (; scaled >= kKibibyte * kTenths && unit + 1 < std::size(kUnits); ++unit) {
        scaled /= kKibibyte;
    }
    Append(out, scaled / kTenths);
    if (scaled < 100 * kTenths && scaled % kTenths != 0) {
        Append(out, '.', scaled % kTenths);
    }
    Append(out, ' ', kUnits[unit]);
    return out;
}
