// The switch scan, with the real string table and the real character and comparison calls.
#include "service/ServiceModule.h"

#include <gtest/gtest.h>

namespace {

struct CommandLineCase {
    const wchar_t* commandLine;
    CommandLineSwitch expected;
};

void PrintTo(const CommandLineCase& c, std::ostream* out)
{
    *out << testing::PrintToString(std::wstring(c.commandLine));
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, RecognisesOnlyASwitchThatEndsTheLine)
{
    const CServiceModule module;
    EXPECT_EQ(module.ParseCommandLine(GetParam().commandLine), GetParam().expected)
        << "command line: " << testing::PrintToString(std::wstring(GetParam().commandLine));
}

constexpr const wchar_t* kProgram = L"\"C:\\Program Files\\vlm-mrx\\vlmmrxsvc.exe\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        CommandLineCase{L"\"C:\\Program Files\\vlm-mrx\\vlmmrxsvc.exe\" -Service",
                        CommandLineSwitch::Service},
        CommandLineCase{L"vlmmrxsvc.exe /service", CommandLineSwitch::Service},
        CommandLineCase{L"vlmmrxsvc.exe -SERVICE", CommandLineSwitch::Service},
        CommandLineCase{L"vlmmrxsvc.exe /UnRegServer", CommandLineSwitch::UnregServer},
        CommandLineCase{L"vlmmrxsvc.exe -unregserver", CommandLineSwitch::UnregServer},
        CommandLineCase{L"vlmmrxsvc.exe /RegServer", CommandLineSwitch::RegServer},
        // A trailing blank or a further word: the token runs to the end and matches nothing.
        CommandLineCase{L"vlmmrxsvc.exe -Service ", CommandLineSwitch::None},
        CommandLineCase{L"vlmmrxsvc.exe -Service now", CommandLineSwitch::None},
        // The first token is "RegServer -Service"; the walk goes on and finds "Service" last.
        CommandLineCase{L"vlmmrxsvc.exe -RegServer -Service", CommandLineSwitch::Service},
        CommandLineCase{L"vlmmrxsvc.exe -RegServer /Service", CommandLineSwitch::Service},
        // The walk goes on from the token's first character, which may be a switch character.
        CommandLineCase{L"vlmmrxsvc.exe --Service", CommandLineSwitch::Service},
        CommandLineCase{L"vlmmrxsvc.exe Service", CommandLineSwitch::None},
        CommandLineCase{L"vlmmrxsvc.exe -", CommandLineSwitch::None},
        CommandLineCase{kProgram, CommandLineSwitch::None},
        CommandLineCase{L"", CommandLineSwitch::None}));

}  // namespace
