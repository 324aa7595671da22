// An in-memory registry for tests: keys and typed values under HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT, the 32-bit view of SOFTWARE, change notifications and injected failures.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeKernel.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace os::fake {

enum class RegistryView { Native64, Wow32 };

struct FakeValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class FakeRegistry final : public IRegistry {
public:
    explicit FakeRegistry(IKernel& kernel);
    ~FakeRegistry() override;

    LSTATUS RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access,
                          HKEY* key) override;
    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                             DWORD* size) override;
    LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars,
                          DWORD* type) override;
    LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event,
                                    BOOL asynchronous) override;
    LSTATUS RegCloseKey(HKEY key) override;
    // Fail with ERROR_ACCESS_DENIED on a key opened without KEY_SET_VALUE.
    LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                           DWORD size) override;
    LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name) override;

    // Test controls. Paths are relative to `root`; a key is created with its parents as needed.
    // Writes and deletions signal the notifications armed on the key or, with the subtree flag,
    // on any key above it, as the real registry does; a deleted key counts as a change of its
    // parent, and notifications armed on the deleted key itself never fire.
    void CreateKey(HKEY root, const std::wstring& path, RegistryView view = RegistryView::Wow32);
    void SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                  std::vector<BYTE> data, RegistryView view = RegistryView::Wow32);
    void SetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value,
                  RegistryView view = RegistryView::Wow32);
    void SetString(HKEY root, const std::wstring& path, const std::wstring& name,
                   const std::wstring& text, DWORD type = REG_SZ,
                   RegistryView view = RegistryView::Wow32);
    void DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name,
                     RegistryView view = RegistryView::Wow32);
    void DeleteKey(HKEY root, const std::wstring& path, RegistryView view = RegistryView::Wow32);
    bool HasKey(HKEY root, const std::wstring& path, RegistryView view = RegistryView::Wow32) const;
    // The value as stored, or nothing when the key or the value is absent.
    std::optional<FakeValue> Value(HKEY root, const std::wstring& path, const std::wstring& name,
                                   RegistryView view = RegistryView::Wow32) const;
    // The next `RegOpenKeyExW` of exactly this path (as passed) fails with `error`, once.
    void FailNextOpen(const std::wstring& subKey, LSTATUS error);
    // Every `RegQueryValueExW` of a value of this name fails with `error` until cleared.
    void FailQueries(const std::wstring& valueName, LSTATUS error);
    // The `RegNotifyChangeKeyValue` that comes after `successesFirst` more successful ones fails
    // with `error`, once.
    void FailNotify(LSTATUS error, std::size_t successesFirst = 0);

    std::size_t OpenKeyCount() const;
    std::size_t ArmedNotificationCount() const;

private:
    struct Node;
    struct OpenKey;
    struct Notification;

    std::shared_ptr<Node> RootNode(HKEY root) const;
    std::shared_ptr<Node> FindLocked(const std::shared_ptr<Node>& from,
                                     const std::vector<std::wstring>& parts) const;
    std::shared_ptr<Node> CreateLocked(HKEY root, const std::wstring& path, RegistryView view);
    std::vector<std::wstring> PathFromRoot(HKEY root, const std::wstring& path,
                                           RegistryView view) const;
    std::shared_ptr<OpenKey> OpenKeyOf(HKEY key) const;
    // Returns the events to signal for a change at `changed`, disarming their notifications.
    std::vector<HANDLE> TakeTriggeredLocked(const std::shared_ptr<Node>& changed);
    // Applies `change` (LSTATUS(Node&)) to the node of a key open for setting values, under the
    // lock, and signals the notifications that a successful change triggers.
    template <typename Change>
    LSTATUS ChangeValues(HKEY key, Change change);
    void Signal(const std::vector<HANDLE>& events);

    IKernel& kernel_;
    mutable std::mutex mutex_;
    std::shared_ptr<Node> localMachine_;
    std::shared_ptr<Node> classesRoot_;
    FakeHandleTable keys_;
    std::vector<std::shared_ptr<Notification>> notifications_;
    std::map<std::wstring, LSTATUS> failNextOpen_;
    std::map<std::wstring, LSTATUS> failQueries_;
    LSTATUS failNotify_ = ERROR_SUCCESS;
    std::size_t notifiesBeforeFailure_ = 0;
};

}  // namespace os::fake
