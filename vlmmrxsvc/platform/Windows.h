// The Windows headers, as the Windows layer of the service includes them. The logic that also
// builds natively (decoding, lists, decisions) never includes this: it works on fixed-width
// values and byte spans.
#pragma once

#ifndef _WIN32
#error "platform/Windows.h belongs to the Windows layer; the portable logic must not include it"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Left out by WIN32_LEAN_AND_MEAN or not part of <windows.h>: the process-status calls, the
// network-provider calls and the native system information query.
#include <psapi.h>
#include <winnetwk.h>
#include <winternl.h>
