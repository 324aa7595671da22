// The executable's message table as the Event Viewer reads it: the executable loaded as data,
// each event id the service writes formatted with inserts given as strings, as the log passes them;
// and both programs' version resources, as Explorer and update tools read them.
#include "process/victim/Beside.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

TEST(WineMessages, EachEventIdFormatsWithItsInserts)
{
    const std::unique_ptr<HINSTANCE__, decltype(&::FreeLibrary)> messages(::LoadLibraryExW(
        Beside(L"vlmmrxsvc.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &::FreeLibrary);
    ASSERT_TRUE(messages);
    // Three marked strings for every id; with FORMAT_MESSAGE_ARGUMENT_ARRAY the "va_list" is an
    // array of pointer-sized values.
    const wchar_t* inserts[] = {L"<1>", L"<2>", L"<3>"};
    const auto arguments = reinterpret_cast<va_list*>(reinterpret_cast<DWORD_PTR*>(inserts));
    // Each id with a part of its text around its last insert, "<2>" where the service passes two
    // strings or more: a text for one string must show no second.
    const std::pair<DWORD, std::wstring> entries[] = {
        {0, L"<1>\r\nRun the"}, {0xC0000005, L"opened (error <1>)"}, {0x8000000B, L"(error <1>)"},
        {0xC0000010, L"<1> failed with error <2>."}, {0x80000008, L"reader failed with error <2>"},
        {0x4000000A, L"idle for <2> minutes"}, {0x80000002, L"paths.<1>\r\n"},
        {0x40000003, L"<1>\r\nThe"}, {0x40000004, L"LoggedOnUser failed with error <1>)"},
        {0xC0000012, L"starts in <2> seconds"}, {0xC0000013, L"(error <1>: <2>), so"},
        {0xC0000014, L"\"RepairPendingFile\" in HKLM"}, {0xC0000015, L"file <1> (error <2>: <3>)."},
        {0xC0000016, L"file <1> (error <2>: <3>). The"}, {0xC0000017, L"file <1> is open"}};
    for (const auto& [id, expected] : entries) {
        SCOPED_TRACE(testing::Message() << std::hex << id);
        std::wstring text(1024, L'\0');
        text.resize(::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                     messages.get(), id, 0, text.data(), text.size(), arguments));
        EXPECT_NE(text.find(expected), text.npos) << text;
        EXPECT_LE(text.find(L"<1>"), text.find(L"<2>"));  // both absent for an id without strings
        EXPECT_EQ(text.find(L"<2>") == text.npos, expected.find(L"<2>") == expected.npos);
        EXPECT_EQ(text.find(L"<3>") == text.npos, expected.find(L"<3>") == expected.npos);
    }
}

TEST(WineResources, BothProgramsCarryTheProjectVersion)
{
    for (const std::wstring program : {L"vlmmrxsvc.exe", L"vlmmrxreport.exe"}) {
        const std::wstring path = Beside(program.c_str());
        std::vector<BYTE> data(::GetFileVersionInfoSizeW(path.c_str(), nullptr));
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, data.size(), data.data())) << path;
        const auto text = [&data](const std::wstring& name) {
            void* value = nullptr;
            UINT length = 0;
            const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
            return ::VerQueryValueW(data.data(), key.c_str(), &value, &length)
                       ? std::wstring(static_cast<const wchar_t*>(value)) : L"-";
        };
        for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
            EXPECT_EQ(text(name), VLM_VERSION_TEXT) << program << L" " << name;
        }
        EXPECT_EQ(text(L"CompanyName"), L"Velmora");
        EXPECT_EQ(text(L"ProductName"), L"Velmora 64-bit Virtual Memory Optimization");
        EXPECT_EQ(text(L"OriginalFilename"), program);
    }
}
