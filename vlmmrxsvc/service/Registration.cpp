// The registration switches: the AppID from the executable's registry script, applied by the
// system's registrar, the service (Installation.cpp), the event source whose texts the executable
// holds, and the type library embedded in the executable.
#include "service/ServiceModule.h"

#include "platform/Registry.h"
#include "resources/ResourceIds.h"

#include <objbase.h>
#include <oleauto.h>

#include <iterator>
#include <memory>
#include <string>

namespace registration {

// The registry-script registrar of atl.dll. The SDK headers at hand do not declare it; these are
// its methods in their order in the interface. Not in an unnamed namespace: the compiler would see
// that nothing in the program implements it and take every call through it for unreachable.
struct IRegistrar : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id,
                                                         LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id,
                                                           LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR file) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR file) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR script) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR script) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR file, UINT id,
                                                       LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR file, UINT id,
                                                         LPCOLESTR type) = 0;
};

}  // namespace registration

namespace {

using registration::IRegistrar;

// {44EC053A-400F-11D0-9DCD-00A0C90391D3}
constexpr CLSID kRegistrarClass = {
    0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};
// {44EC053B-400F-11D0-9DCD-00A0C90391D3}
constexpr IID kRegistrarInterface = {
    0x44EC053B, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

constexpr const wchar_t* kScriptType = L"REGISTRY";

// {273EEBCE-BBFB-4E37-A725-C029D70B671E}
constexpr GUID kTypeLibraryId = {
    0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};

constexpr WORD kTypeLibraryMajor = 1;
constexpr WORD kTypeLibraryMinor = 0;
constexpr LCID kTypeLibraryLocale = 0x0409;
constexpr SYSKIND kTypeLibrarySystem = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// The event sources of the Application log; the service's name completes the key.
constexpr const wchar_t* kApplicationSources =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr const wchar_t* kMessageFileValue = L"EventMessageFile";
constexpr const wchar_t* kTypesSupportedValue = L"TypesSupported";
constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

struct Releaser {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename T>
using ComOwner = std::unique_ptr<T, Releaser>;

// COM for the calling thread, for the lifetime of this object.
class ComApartment {
public:
    ComApartment() : result_(::CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    [[nodiscard]] HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

// The executable's file, where the registrar and the type-library loader find its resources.
struct ExecutablePath {
    ExecutablePath() { ::GetModuleFileNameW(nullptr, text, std::size(text)); }
    wchar_t text[MAX_PATH] = {};
};

// Applies the registry script, or with `install` false removes what it describes.
HRESULT UpdateRegistryFromScript(bool install)
{
    IRegistrar* created = nullptr;
    const HRESULT result = ::CoCreateInstance(kRegistrarClass, nullptr, CLSCTX_INPROC_SERVER,
                                              kRegistrarInterface,
                                              reinterpret_cast<void**>(&created));
    if (FAILED(result)) {
        return result;
    }
    const ComOwner<IRegistrar> registrar(created);
    const ExecutablePath executable;
    return install ? registrar->ResourceRegister(executable.text, IDR_APPID_SCRIPT, kScriptType)
                   : registrar->ResourceUnregister(executable.text, IDR_APPID_SCRIPT,
                                                   kScriptType);
}

HRESULT RegisterOwnTypeLibrary()
{
    ExecutablePath executable;  // RegisterTypeLib takes the path as modifiable text
    ITypeLib* loaded = nullptr;
    const HRESULT result = ::LoadTypeLibEx(executable.text, REGKIND_NONE, &loaded);
    if (FAILED(result)) {
        return result;
    }
    const ComOwner<ITypeLib> library(loaded);
    return ::RegisterTypeLib(library.get(), executable.text, nullptr);
}

std::wstring EventSourceKey(const std::wstring& serviceName)
{
    return std::wstring(kApplicationSources) + serviceName;
}

}  // namespace

LSTATUS CServiceModule::RegisterEventMessages() const
{
    os::UniqueKey source;
    const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                              EventSourceKey(serviceName).c_str(), 0, nullptr,
                                              0, KEY_SET_VALUE, nullptr, source.put(), nullptr);
    if (created != ERROR_SUCCESS) {
        return created;
    }
    // Expandable, as the Event Viewer expects of a message file's path.
    const ExecutablePath executable;
    const LSTATUS file =
        SetTextValue(source.get(), kMessageFileValue, executable.text, REG_EXPAND_SZ);
    if (file != ERROR_SUCCESS) {
        return file;
    }
    return SetNumberValue(source.get(), kTypesSupportedValue, kTypesSupported);
}

LSTATUS CServiceModule::RemoveEventMessages() const
{
    return ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey(serviceName).c_str());
}

HRESULT CServiceModule::RegisterServer(BOOL registerTypeLibrary, BOOL asService)
{
    const ComApartment com;
    if (FAILED(com.Result())) {
        return com.Result();
    }
    // A service left by an earlier registration may run another copy of the executable.
    static_cast<void>(Uninstall());
    // Not looked at: without the script's keys the AppID open below fails and says so.
    static_cast<void>(UpdateRegistryFromScript(true));
    const LSTATUS opened = RegisterAppIdValues(asService);
    if (opened != ERROR_SUCCESS) {
        return static_cast<HRESULT>(opened);
    }
    // Not looked at, as the service itself: the result is the COM, registry or type-library one,
    // and without the source the Event Viewer only shows the entries without their texts.
    static_cast<void>(RegisterEventMessages());
    return registerTypeLibrary != FALSE ? RegisterOwnTypeLibrary() : S_OK;
}

HRESULT CServiceModule::UnregisterServer()
{
    const ComApartment com;
    if (FAILED(com.Result())) {
        return com.Result();
    }
    static_cast<void>(UpdateRegistryFromScript(false));
    static_cast<void>(Uninstall());
    static_cast<void>(RemoveEventMessages());
    static_cast<void>(::UnRegisterTypeLib(kTypeLibraryId, kTypeLibraryMajor, kTypeLibraryMinor,
                                          kTypeLibraryLocale, kTypeLibrarySystem));
    return S_OK;
}
