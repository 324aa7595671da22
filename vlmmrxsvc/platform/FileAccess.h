// Whether, and as whom, the service opens a file that another process named (directly, through
// the kernel's name of what it mapped, or through a record made from what it said): where the
// open gate (ClassifyForOpening) meets the drives as the service sees them. And what a file's
// identity and stamp are.
#pragma once

#include "platform/FileIdentity.h"
#include "platform/Paths.h"
#include "platform/Windows.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class OpenAs {
    Nobody,        // the gate refused the path: no file call is made with it
    ServiceFirst,  // on a drive the service sees as local: under the service's own identity
    // On a share, or on a drive the service sees as a network drive: only while acting as the
    // owner of the process, so that no process can make the machine's account sign in to a host
    // of its choosing.
    OwnerOnly,
};

// How long DriveView keeps what the system said about a drive: a drive mapped or removed while
// the service runs is seen within a minute, and a visit of a process costs no drive query.
inline constexpr ULONGLONG kDriveAnswerLifetimeMs = 60000;

// The drives as the service's own identity sees them: which are network drives, and which device
// each names, each asked again once its answer is kDriveAnswerLifetimeMs old.
class DriveView {
public:
    // How a path taken from another process may be opened.
    [[nodiscard]] OpenAs AccessFor(std::wstring_view path);
    // The kernel's name of a mapped file in a form that can be opened (OpenableFormOfMappedName),
    // the drives' devices asked with QueryDosDeviceW on first need (Wine's names need none).
    [[nodiscard]] std::optional<std::wstring> OpenableFormOf(std::wstring_view mappedName);

private:
    struct Kind {
        bool network = false;
        std::optional<ULONGLONG> askedAt;
    };

    [[nodiscard]] bool IsNetworkDrive(wchar_t letter);

    std::array<Kind, 26> kinds_{};
    std::vector<DosDrive> devices_;
    std::optional<ULONGLONG> devicesAskedAt_;
};

// The identity of an open file; nothing when it cannot be queried.
[[nodiscard]] std::optional<FileIdentity> IdentityOfHandle(HANDLE file);

// Opens `path` for its attributes only, at identification level (so that whatever answers could
// never act as the caller), and gives its identity when it is a file on a disk or a share. Under
// the identity the thread acts as; the caller has passed the path through the gate.
[[nodiscard]] std::optional<FileIdentity> IdentityOfPath(const wchar_t* path);

// The stamp of `path` (GetFileAttributesExW, which leaves no handle open); nothing when there is
// no such file. Under the identity the thread acts as; the caller has passed it through the gate.
[[nodiscard]] std::optional<FileStamp> StampOf(const wchar_t* path);
