// The platform layer against the real calls: the handle owners, and the service's own upper-case
// table against the system's.
#include "platform/Paths.h"
#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(WinePlatform, OwnersCloseTheRealHandleOnceAndKeepTheCallersLastError)
{
    const HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    {
        os::UniqueHandle first(raw);
        const os::UniqueHandle second(std::move(first));
        first.reset();  // moved from: owns nothing any more
        EXPECT_TRUE(::GetHandleInformation(raw, &flags));
        ::SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
    // A file that cannot be opened is INVALID_HANDLE_VALUE, not null.
    EXPECT_FALSE(os::UniqueFile(::CreateFileW(L"C:\\none", 0, 0, nullptr, OPEN_EXISTING, 0, 0)));
}

// Every character of the Basic Multilingual Plane but the surrogates (ASCII, Latin-1, Latin
// Extended, Greek and Cyrillic among them), upper-cased by the service and by the system.
TEST(WinePlatform, UpperCasingAgreesWithTheSystemCharacterByCharacter)
{
    int disagreements = 0;
    for (std::uint32_t code = 1; code <= 0xFFFF; ++code) {
        wchar_t system = static_cast<wchar_t>(code);
        ::CharUpperBuffW(&system, 1);
        const wchar_t ours = UpperCaseOf(static_cast<wchar_t>(code));
        if ((code < 0xD800 || code > 0xDFFF) && ours != system) {
            ++disagreements;
            std::printf("U+%04X: ours U+%04X, the system's U+%04X\n", code,
                        std::uint32_t{ours}, std::uint32_t{system});
        }
    }
    EXPECT_EQ(disagreements, 0);
    EXPECT_EQ(UpperCased(L"c:\\\u00E4pfel\\\u03C3\u03C2\\\u044F.dll"),
              L"C:\\\u00C4PFEL\\\u03A3\u03C2\\\u042F.DLL");  // final sigma stays
}

}  // namespace
