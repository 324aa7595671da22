#include "platform/fake/FakeRegistry.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <utility>

namespace os::fake {
namespace {

constexpr const wchar_t* kSoftware = L"SOFTWARE";
constexpr const wchar_t* kWow6432Node = L"WOW6432NODE";

std::wstring Upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return text;
}

std::vector<std::wstring> SplitPath(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty()) {
                parts.push_back(std::move(part));
            }
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) {
        parts.push_back(std::move(part));
    }
    return parts;
}

std::vector<BYTE> BytesOf(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

}  // namespace

struct FakeRegistry::Node {
    std::wstring name;
    std::weak_ptr<Node> parent;
    std::vector<std::pair<std::wstring, FakeValue>> values;  // in creation order
    std::map<std::wstring, std::shared_ptr<Node>> subkeys;   // by upper-case name
    bool deleted = false;

    std::pair<std::wstring, FakeValue>* FindValue(const std::wstring& valueName)
    {
        const std::wstring wanted = Upper(valueName);
        for (auto& entry : values) {
            if (Upper(entry.first) == wanted) {
                return &entry;
            }
        }
        return nullptr;
    }

    void Store(const std::wstring& valueName, FakeValue value)
    {
        if (auto* entry = FindValue(valueName)) {
            entry->second = std::move(value);
        } else {
            values.emplace_back(valueName, std::move(value));
        }
    }

    bool IsAtOrBelow(const Node* ancestor) const
    {
        for (const Node* node = this; node != nullptr; node = node->parent.lock().get()) {
            if (node == ancestor) {
                return true;
            }
        }
        return false;
    }
};

struct FakeRegistry::OpenKey final : FakeObject {
    std::shared_ptr<Node> node;
    RegistryView view;
    REGSAM access = 0;
};

struct FakeRegistry::Notification {
    std::weak_ptr<Node> node;
    HKEY armedThrough;
    bool subtree;
    HANDLE event;
};

FakeRegistry::FakeRegistry(IKernel& kernel)
    : kernel_(kernel), localMachine_(std::make_shared<Node>()), classesRoot_(std::make_shared<Node>())
{
}

FakeRegistry::~FakeRegistry() = default;

std::shared_ptr<FakeRegistry::Node> FakeRegistry::RootNode(HKEY root) const
{
    if (root == HKEY_LOCAL_MACHINE) {
        return localMachine_;
    }
    if (root == HKEY_CLASSES_ROOT) {
        return classesRoot_;
    }
    return nullptr;
}

std::vector<std::wstring> FakeRegistry::PathFromRoot(HKEY root, const std::wstring& path,
                                                     RegistryView view) const
{
    std::vector<std::wstring> parts = SplitPath(path);
    // The 32-bit view sees HKLM\SOFTWARE redirected to HKLM\SOFTWARE\WOW6432Node.
    const bool redirected = root == HKEY_LOCAL_MACHINE && view == RegistryView::Wow32 &&
                            !parts.empty() && Upper(parts[0]) == kSoftware &&
                            (parts.size() < 2 || Upper(parts[1]) != kWow6432Node);
    if (redirected) {
        parts.insert(parts.begin() + 1, L"WOW6432Node");
    }
    return parts;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::FindLocked(
    const std::shared_ptr<Node>& from, const std::vector<std::wstring>& parts) const
{
    std::shared_ptr<Node> node = from;
    for (const auto& part : parts) {
        if (node == nullptr) {
            return nullptr;
        }
        const auto found = node->subkeys.find(Upper(part));
        node = found == node->subkeys.end() ? nullptr : found->second;
    }
    return node;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::CreateLocked(HKEY root, const std::wstring& path,
                                                               RegistryView view)
{
    std::shared_ptr<Node> node = RootNode(root);
    for (const auto& part : PathFromRoot(root, path, view)) {
        auto& child = node->subkeys[Upper(part)];
        if (child == nullptr) {
            child = std::make_shared<Node>();
            child->name = part;
            child->parent = node;
        }
        node = child;
    }
    return node;
}

std::shared_ptr<FakeRegistry::OpenKey> FakeRegistry::OpenKeyOf(HKEY key) const
{
    return keys_.Lookup<OpenKey>(reinterpret_cast<HANDLE>(key));
}

LSTATUS FakeRegistry::RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD, REGSAM access,
                                    HKEY* key)
{
    const std::wstring path = subKey == nullptr ? std::wstring() : std::wstring(subKey);
    std::shared_ptr<Node> node;
    RegistryView view = (access & KEY_WOW64_32KEY) != 0 ? RegistryView::Wow32
                                                        : RegistryView::Native64;
    {
        const std::lock_guard lock(mutex_);
        const auto failure = failNextOpen_.find(path);
        if (failure != failNextOpen_.end()) {
            const LSTATUS error = failure->second;
            failNextOpen_.erase(failure);
            return error;
        }
        if (const auto root = RootNode(parent)) {
            node = FindLocked(root, PathFromRoot(parent, path, view));
        } else if (const auto open = OpenKeyOf(parent)) {
            if (open->node->deleted) {
                return ERROR_KEY_DELETED;
            }
            view = open->view;
            node = FindLocked(open->node, SplitPath(path));
        } else {
            return ERROR_INVALID_HANDLE;
        }
    }
    if (node == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto open = std::make_shared<OpenKey>();
    open->node = std::move(node);
    open->view = view;
    open->access = access;
    *key = reinterpret_cast<HKEY>(keys_.Insert(std::move(open)));
    return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                                       DWORD* size)
{
    const auto open = OpenKeyOf(key);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::wstring valueName = name == nullptr ? std::wstring() : std::wstring(name);
    const std::lock_guard lock(mutex_);
    if (open->node->deleted) {
        return ERROR_KEY_DELETED;
    }
    const auto failure = failQueries_.find(valueName);
    if (failure != failQueries_.end()) {
        return failure->second;
    }
    const auto* entry = open->node->FindValue(valueName);
    if (entry == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const FakeValue& value = entry->second;
    const auto required = static_cast<DWORD>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data != nullptr) {
        if (size == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (*size < required) {
            *size = required;
            return ERROR_MORE_DATA;
        }
        std::copy(value.data.begin(), value.data.end(), data);
    }
    if (size != nullptr) {
        *size = required;
    }
    return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars,
                                    DWORD* type)
{
    const auto open = OpenKeyOf(key);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::lock_guard lock(mutex_);
    if (open->node->deleted) {
        return ERROR_KEY_DELETED;
    }
    if (index >= open->node->values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const auto& [valueName, value] = open->node->values[index];
    if (name == nullptr || nameChars == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (valueName.size() >= *nameChars) {
        return ERROR_MORE_DATA;
    }
    std::copy(valueName.begin(), valueName.end(), name);
    name[valueName.size()] = L'\0';
    *nameChars = static_cast<DWORD>(valueName.size());
    if (type != nullptr) {
        *type = value.type;
    }
    return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD, HANDLE event,
                                              BOOL asynchronous)
{
    const auto open = OpenKeyOf(key);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (asynchronous == FALSE || event == nullptr) {
        return ERROR_INVALID_PARAMETER;  // a synchronous wait would block the test
    }
    const std::lock_guard lock(mutex_);
    if (failNotify_ != ERROR_SUCCESS) {
        if (notifiesBeforeFailure_ == 0) {
            return std::exchange(failNotify_, ERROR_SUCCESS);
        }
        --notifiesBeforeFailure_;
    }
    if (open->node->deleted) {
        return ERROR_KEY_DELETED;
    }
    notifications_.push_back(std::make_shared<Notification>(
        Notification{open->node, key, watchSubtree != FALSE, event}));
    return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::RegCloseKey(HKEY key)
{
    std::vector<HANDLE> toSignal;
    {
        // Closing a key completes the notifications armed through it, as on Windows.
        const std::lock_guard lock(mutex_);
        const auto armedThroughKey = [key](const auto& n) { return n->armedThrough == key; };
        for (const auto& n : notifications_) {
            if (armedThroughKey(n)) {
                toSignal.push_back(n->event);
            }
        }
        std::erase_if(notifications_, armedThroughKey);
    }
    if (!keys_.Close(reinterpret_cast<HANDLE>(key))) {
        return ERROR_INVALID_HANDLE;
    }
    Signal(toSignal);
    return ERROR_SUCCESS;
}

template <typename Change>
LSTATUS FakeRegistry::ChangeValues(HKEY key, Change change)
{
    const auto open = OpenKeyOf(key);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((open->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    std::vector<HANDLE> toSignal;
    {
        const std::lock_guard lock(mutex_);
        if (open->node->deleted) {
            return ERROR_KEY_DELETED;
        }
        const LSTATUS result = change(*open->node);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        toSignal = TakeTriggeredLocked(open->node);
    }
    Signal(toSignal);
    return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::RegSetValueExW(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                                     DWORD size)
{
    if (data == nullptr && size != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring valueName = name == nullptr ? std::wstring() : std::wstring(name);
    return ChangeValues(key, [&](Node& node) {
        node.Store(valueName, FakeValue{type, BytesOf(data, size)});
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS FakeRegistry::RegDeleteValueW(HKEY key, const wchar_t* name)
{
    const std::wstring wanted = Upper(name == nullptr ? std::wstring() : std::wstring(name));
    return ChangeValues(key, [&](Node& node) {
        const auto removed =
            std::erase_if(node.values, [&](const auto& e) { return Upper(e.first) == wanted; });
        return static_cast<LSTATUS>(removed == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    });
}

std::vector<HANDLE> FakeRegistry::TakeTriggeredLocked(const std::shared_ptr<Node>& changed)
{
    std::vector<HANDLE> events;
    std::erase_if(notifications_, [&](const std::shared_ptr<Notification>& n) {
        const auto watched = n->node.lock();
        const bool triggered = watched != nullptr &&
                               (watched == changed ||
                                (n->subtree && changed->IsAtOrBelow(watched.get())));
        if (triggered) {
            events.push_back(n->event);
        }
        return triggered;
    });
    return events;
}

void FakeRegistry::Signal(const std::vector<HANDLE>& events)
{
    for (HANDLE event : events) {
        kernel_.SetEvent(event);  // fails quietly when the watcher already closed its event
    }
}

void FakeRegistry::CreateKey(HKEY root, const std::wstring& path, RegistryView view)
{
    std::vector<HANDLE> toSignal;
    {
        const std::lock_guard lock(mutex_);
        const auto node = CreateLocked(root, path, view);
        toSignal = TakeTriggeredLocked(node);
    }
    Signal(toSignal);
}

void FakeRegistry::SetValue(HKEY root, const std::wstring& path, const std::wstring& name,
                            DWORD type, std::vector<BYTE> data, RegistryView view)
{
    std::vector<HANDLE> toSignal;
    {
        const std::lock_guard lock(mutex_);
        const auto node = CreateLocked(root, path, view);
        node->Store(name, FakeValue{type, std::move(data)});
        toSignal = TakeTriggeredLocked(node);
    }
    Signal(toSignal);
}

void FakeRegistry::SetDword(HKEY root, const std::wstring& path, const std::wstring& name,
                            DWORD value, RegistryView view)
{
    SetValue(root, path, name, REG_DWORD, BytesOf(&value, sizeof value), view);
}

void FakeRegistry::SetString(HKEY root, const std::wstring& path, const std::wstring& name,
                             const std::wstring& text, DWORD type, RegistryView view)
{
    // Stored with its terminator in the platform's wide characters, so that code reading it back
    // with sizeof(wchar_t) sees what it would see on Windows.
    const std::wstring terminated = text + L'\0';
    std::vector<BYTE> data = BytesOf(terminated.data(), terminated.size() * sizeof(wchar_t));
    SetValue(root, path, name, type, std::move(data), view);
}

void FakeRegistry::DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name,
                               RegistryView view)
{
    std::vector<HANDLE> toSignal;
    {
        const std::lock_guard lock(mutex_);
        const auto node = FindLocked(RootNode(root), PathFromRoot(root, path, view));
        if (node == nullptr) {
            return;
        }
        const std::wstring wanted = Upper(name);
        std::erase_if(node->values, [&](const auto& entry) { return Upper(entry.first) == wanted; });
        toSignal = TakeTriggeredLocked(node);
    }
    Signal(toSignal);
}

void FakeRegistry::DeleteKey(HKEY root, const std::wstring& path, RegistryView view)
{
    std::vector<HANDLE> toSignal;
    {
        const std::lock_guard lock(mutex_);
        const auto node = FindLocked(RootNode(root), PathFromRoot(root, path, view));
        const auto parent = node == nullptr ? nullptr : node->parent.lock();
        if (parent == nullptr) {
            return;
        }
        // A deletion changes the parent's subkeys. Notifications armed on the deleted key itself
        // are never signalled, as the registry documents it and Wine does: they stay armed, and
        // arming again through its handle fails with ERROR_KEY_DELETED.
        toSignal = TakeTriggeredLocked(parent);
        const auto below = [&](const auto& self, const std::shared_ptr<Node>& n) -> void {
            n->deleted = true;
            for (const auto& [unused, child] : n->subkeys) {
                self(self, child);
            }
        };
        below(below, node);
        parent->subkeys.erase(Upper(node->name));
    }
    Signal(toSignal);
}

bool FakeRegistry::HasKey(HKEY root, const std::wstring& path, RegistryView view) const
{
    const std::lock_guard lock(mutex_);
    return FindLocked(RootNode(root), PathFromRoot(root, path, view)) != nullptr;
}

std::optional<FakeValue> FakeRegistry::Value(HKEY root, const std::wstring& path,
                                             const std::wstring& name, RegistryView view) const
{
    const std::lock_guard lock(mutex_);
    const auto node = FindLocked(RootNode(root), PathFromRoot(root, path, view));
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto* entry = node->FindValue(name);
    return entry == nullptr ? std::nullopt : std::optional<FakeValue>(entry->second);
}

void FakeRegistry::FailNextOpen(const std::wstring& subKey, LSTATUS error)
{
    const std::lock_guard lock(mutex_);
    failNextOpen_[subKey] = error;
}

void FakeRegistry::FailQueries(const std::wstring& valueName, LSTATUS error)
{
    const std::lock_guard lock(mutex_);
    if (error == ERROR_SUCCESS) {
        failQueries_.erase(valueName);
    } else {
        failQueries_[valueName] = error;
    }
}

void FakeRegistry::FailNotify(LSTATUS error, std::size_t successesFirst)
{
    const std::lock_guard lock(mutex_);
    failNotify_ = error;
    notifiesBeforeFailure_ = successesFirst;
}

std::size_t FakeRegistry::OpenKeyCount() const { return keys_.OpenCount(); }

std::size_t FakeRegistry::ArmedNotificationCount() const
{
    const std::lock_guard lock(mutex_);
    return notifications_.size();
}

}  // namespace os::fake
