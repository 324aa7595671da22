// Prints the control codes that the test driver behind "\\.\VlmAltStr" has received, oldest
// first, with their names: what the demonstration shows of the service's driver notifications.
#include "driver/AltStrFixture.h"
#include "platform/UniqueResource.h"

#include <cstdio>
#include <vector>

namespace {

constexpr const wchar_t* kDevicePath = L"\\\\.\\VlmAltStr";

const char* NameOf(DWORD code)
{
    switch (code) {
    case 0x00084020:
        return "settings loaded";
    case 0x00084024:
        return "service stop";
    case 0x00084028:
        return "service start";
    default:
        return "?";
    }
}

}  // namespace

int main()
{
    const os::UniqueFile device(::CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device) {
        std::printf("no driver at \\\\.\\VlmAltStr (error %lu)\n", ::GetLastError());
        return 1;
    }
    std::vector<DWORD> codes(kFixtureCodeCapacity);
    DWORD bytes = 0;
    if (!::DeviceIoControl(device.get(), kFixtureQueryCodes, nullptr, 0, codes.data(),
                           static_cast<DWORD>(codes.size() * sizeof(DWORD)), &bytes, nullptr)) {
        std::printf("the driver did not answer (error %lu)\n", ::GetLastError());
        return 1;
    }
    codes.resize(bytes / sizeof(DWORD));
    if (codes.empty()) {
        std::printf("  (no codes yet)\n");
    }
    for (const DWORD code : codes) {
        std::printf("  0x%08lX  %s\n", code, NameOf(code));
    }
    return 0;
}
