// The report's text as it is written: UTF-8 gathered in a buffer and handed on in large pieces,
// always after whole records, each written on a thread of its own while the next is gathered, so
// that the output is streamed and never held whole; and the parts that the formats append
// (numbers, hex, texts quoted for JSON, CSV and HTML).
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <string_view>

// Takes the next piece of the output; false when it could not be written.
using Writer = std::function<bool(std::string_view text)>;

class TextOut {
public:
    explicit TextOut(Writer writer) : writer_(std::move(writer)) {}
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;
    ~TextOut();  // waits for a write in flight

    std::string& Text() { return text_; }
    // Hands on what was appended once there is enough of it; call it between records.
    void Commit();
    // Hands on everything and waits for it to be written; false when any write failed.
    [[nodiscard]] bool Finish();

private:
    void HandOn();
    void Wait();

    Writer writer_;  // called from one thread at a time
    std::string text_;
    std::string writing_;  // the piece in flight
    std::future<bool> written_;
    bool failed_ = false;
};

// The parts that Append writes: texts (UTF-8, or UTF-16 units written as UTF-8), decimal numbers,
// and the wrappers below.
struct Hex {  // "0x" and upper-case hex digits, 16 unless told
    std::uint64_t value;
    unsigned digits = 16;
};
struct ShortHex {  // "0x" and the digits without leading zeros
    std::uint64_t value;
};
struct JsonText {  // a JSON string, quotes included
    std::wstring_view text;
};
struct Utf8JsonText {
    std::string_view text;
};
struct CsvText {  // a CSV field, quoted as RFC 4180 has it where it needs to be
    std::wstring_view text;
};
struct Utf8CsvText {
    std::string_view text;
};
struct HtmlText {  // text with the HTML specials as character references
    std::wstring_view text;
};
struct Utf8HtmlText {
    std::string_view text;
};

void Put(std::string& out, std::string_view text);
void Put(std::string& out, std::wstring_view text);
void Put(std::string& out, std::uint64_t number);
void Put(std::string& out, Hex hex);
void Put(std::string& out, ShortHex hex);
void Put(std::string& out, JsonText json);
void Put(std::string& out, Utf8JsonText json);
void Put(std::string& out, CsvText csv);
void Put(std::string& out, Utf8CsvText csv);
void Put(std::string& out, HtmlText html);
void Put(std::string& out, Utf8HtmlText html);

inline void Put(std::string& out, const char* text) { Put(out, std::string_view(text)); }
inline void Put(std::string& out, const std::string& text) { Put(out, std::string_view(text)); }
inline void Put(std::string& out, const std::wstring& text) { Put(out, std::wstring_view(text)); }
inline void Put(std::string& out, char character) { out.push_back(character); }

template <typename... Parts>
void Append(std::string& out, const Parts&... parts)
{
    (Put(out, parts), ...);
}

// `bytes` for people: "512 KiB", "3.2 MiB", "1.5 GiB".
[[nodiscard]] std::string HumanBytes(std::uint64_t bytes);
