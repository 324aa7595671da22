#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include "platform/win/WindowsPlatform.h"
#endif

namespace os {
namespace {

const Platform* g_installed = nullptr;

}  // namespace

const Platform& Current()
{
    if (g_installed != nullptr) {
        return *g_installed;
    }
#ifdef _WIN32
    return WindowsPlatform();
#else
    std::fputs("vlmmrxsvc: no platform installed; a host test must install the fakes first\n",
               stderr);
    std::abort();
#endif
}

ScopedPlatform::ScopedPlatform(const Platform& platform) : previous_(g_installed)
{
    g_installed = &platform;
}

ScopedPlatform::~ScopedPlatform() { g_installed = previous_; }

}  // namespace os
