// The executable's message table as the Event Viewer reads it: the executable loaded as data,
// each event id the service writes formatted with inserts given as strings, as the log passes them.
#include "process/victim/Beside.h"

#include <gtest/gtest.h>

#include <memory>

TEST(WineMessages, EachEventIdFormatsWithItsInserts)
{
    const std::unique_ptr<HINSTANCE__, decltype(&::FreeLibrary)> messages(::LoadLibraryExW(
        Beside(L"vlmmrxsvc.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &::FreeLibrary);
    ASSERT_TRUE(messages);
    // Three marked strings for every id; with FORMAT_MESSAGE_ARGUMENT_ARRAY the "va_list" is an
    // array of pointer-sized values.
    const wchar_t* inserts[] = {L"<1>", L"<2>", L"<3>"};
    const auto arguments = reinterpret_cast<va_list*>(reinterpret_cast<DWORD_PTR*>(inserts));
    // Each id with a part of its text around its last insert, and how many strings the service
    // passes: the text shows exactly those, in order.
    struct Entry {
        DWORD id;
        std::size_t strings;
        const wchar_t* part;
    };
    const Entry entries[] = {
        {0, 1, L"<1>\r\nRun the"}, {0xC0000005, 1, L"opened (error <1>)"},
        {0x8000000B, 1, L"(error <1>)"}, {0xC0000010, 2, L"<1> failed with error <2>."},
        {0x80000008, 2, L"reader failed with error <2>"}, {0x4000000A, 2, L"idle for <2> minutes"},
        {0x80000002, 1, L"paths.<1>\r\n"}, {0x40000003, 1, L"<1>\r\nThe"},
        {0x40000004, 1, L"LoggedOnUser failed with error <1>)"},
        {0xC0000012, 2, L"starts in <2> seconds"}, {0xC0000013, 2, L"(error <1>: <2>), so"},
        {0xC0000014, 0, L"\"RepairPendingFile\" in HKLM"},
        {0xC0000015, 3, L"file <1> (error <2>: <3>). It"},
        {0xC0000016, 3, L"file <1> (error <2>: <3>). The"}, {0xC0000017, 1, L"file <1> is open"}};
    for (const auto& [id, strings, part] : entries) {
        SCOPED_TRACE(testing::Message() << std::hex << id);
        std::wstring text(1024, L'\0');
        text.resize(::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                     messages.get(), id, 0, text.data(), text.size(), arguments));
        EXPECT_NE(text.find(part), text.npos) << text;
        std::size_t previous = 0;
        for (std::size_t insert = 1; insert <= std::size(inserts); ++insert) {
            const std::size_t at = text.find(inserts[insert - 1]);
            EXPECT_EQ(at != text.npos, insert <= strings) << insert;
            EXPECT_TRUE(at == text.npos || at >= previous) << insert;
            previous = at == text.npos ? previous : at;
        }
    }
}
