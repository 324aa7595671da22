// The registration switches of the real executable against Wine's service control manager,
// registry, registrar and type-library registration.
#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

namespace {

using namespace e2e;

const std::wstring kQuotedExecutable = L"\"" + ServiceExecutable() + L"\"";
const std::wstring kDescription = L"Dynamically optimizes applications executing on this machine";

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using ComOwner = std::unique_ptr<T, Releaser>;

std::wstring Take(BSTR text)
{
    std::wstring taken = text == nullptr ? std::wstring() : std::wstring(text);
    ::SysFreeString(text);
    return taken;
}

class RegistrationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << ::GetLastError();
    }

    void TearDown() override
    {
        RemoveEverything();
        manager_.reset();
        ::CoUninitialize();
    }

    os::UniqueServiceHandle OpenService() const
    {
        return os::UniqueServiceHandle(
            ::OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_CONFIG));
    }

    static ComOwner<ITypeLib> LoadRegisteredTypeLibrary()
    {
        ITypeLib* library = nullptr;
        if (FAILED(::LoadRegTypeLib(kTypeLibraryId, kTypeLibraryMajor, kTypeLibraryMinor,
                                    kTypeLibraryLocale, &library))) {
            return nullptr;
        }
        return ComOwner<ITypeLib>(library);
    }

    os::UniqueServiceHandle manager_;
};

// Answers of QueryServiceConfig2W, in a buffer of the size it asks for.
std::vector<BYTE> QueryConfig2(SC_HANDLE service, DWORD level)
{
    DWORD needed = 0;
    ::QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, 1));
    if (!::QueryServiceConfig2W(service, level, buffer.data(), needed, &needed)) {
        return {};
    }
    return buffer;
}

TEST_F(RegistrationEndToEnd, ServiceSwitchCreatesTheServiceRecord)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    const auto service = OpenService();
    ASSERT_TRUE(service) << ::GetLastError();

    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(::QueryServiceConfigW(service.get(), config, needed, &needed)) << ::GetLastError();
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), kQuotedExecutable);
    EXPECT_EQ(std::wstring(config->lpLoadOrderGroup), L"");
    EXPECT_EQ(config->dwTagId, 0u);
    // Wine answers no dependencies here; the service manager's own record has them.
    if (config->lpDependencies[0] != L'\0') {
        EXPECT_EQ(std::wstring(config->lpDependencies, 7), std::wstring(L"RPCSS\0\0", 7));
    }
    wchar_t dependencies[MAX_PATH] = {};
    DWORD bytes = sizeof dependencies;
    const std::wstring serviceKey =
        std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + kServiceName;
    ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, serviceKey.c_str(), L"DependOnService",
                             RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(dependencies, bytes / sizeof(wchar_t)), std::wstring(L"RPCSS\0\0", 7));
    EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");
    EXPECT_EQ(std::wstring(config->lpDisplayName), kServiceName);

    const auto description = QueryConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION);
    ASSERT_FALSE(description.empty()) << ::GetLastError();
    EXPECT_EQ(std::wstring(
                  reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description.data())->lpDescription),
              kDescription);

    // Wine accepts the recovery actions without storing them and answers ERROR_INVALID_LEVEL;
    // the arguments are checked against the fake. Where the answer is there, it must be ours.
    const auto recovery = QueryConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS);
    if (recovery.empty()) {
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    } else {
        const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(recovery.data());
        EXPECT_EQ(actions->dwResetPeriod, 86400u);
        ASSERT_EQ(actions->cActions, 3u);
        EXPECT_EQ(actions->lpsaActions[0].Type, SC_ACTION_RESTART);
        EXPECT_EQ(actions->lpsaActions[0].Delay, 120000u);
        EXPECT_EQ(actions->lpsaActions[1].Type, SC_ACTION_RESTART);
        EXPECT_EQ(actions->lpsaActions[1].Delay, 120000u);
        EXPECT_EQ(actions->lpsaActions[2].Type, SC_ACTION_NONE);
    }
}

TEST_F(RegistrationEndToEnd, ServiceSwitchWritesTheAppIdEntries)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    EXPECT_EQ(ClassesText(kAppIdPath, nullptr), L"vlmmrxsvc");
    EXPECT_EQ(ClassesText(kAppIdPath, L"LocalService"), L"vlmmrxsvc");
    EXPECT_EQ(ClassesText(kAppIdPath, L"ServiceParameters"), L"-Service");
    EXPECT_EQ(ClassesText(kExecutableAppIdPath, L"AppID"), kAppIdGuid);
}

// One member of a type: interface, name, dispatch id, kind, help string.
using Member = std::tuple<std::wstring, std::wstring, MEMBERID, INVOKEKIND, std::wstring>;

std::set<Member> MembersOf(ITypeInfo* type, const std::wstring& typeName)
{
    TYPEATTR* attributes = nullptr;
    if (FAILED(type->GetTypeAttr(&attributes))) {
        return {};
    }
    const WORD count = attributes->cFuncs;
    type->ReleaseTypeAttr(attributes);
    // A dual interface's dispatch description lists the methods of IUnknown and IDispatch too,
    // with reserved ids.
    constexpr MEMBERID kFirstReserved = 0x60000000;
    std::set<Member> members;
    for (WORD index = 0; index < count; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(type->GetFuncDesc(index, &function))) {
            continue;
        }
        if (function->memid < kFirstReserved) {
            BSTR name = nullptr;
            BSTR help = nullptr;
            type->GetDocumentation(function->memid, &name, &help, nullptr, nullptr);
            members.emplace(typeName, Take(name), function->memid, function->invkind, Take(help));
        }
        type->ReleaseFuncDesc(function);
    }
    return members;
}

TEST_F(RegistrationEndToEnd, ServiceSwitchRegistersTheTypeLibrary)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    const auto library = LoadRegisteredTypeLibrary();
    ASSERT_TRUE(library);

    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_TRUE(SUCCEEDED(library->GetDocumentation(-1, &name, &help, nullptr, nullptr)));
    EXPECT_EQ(Take(name), L"MRXSVCLib");
    EXPECT_EQ(Take(help), L"mrxsvc 1.0 Type Library");
    TLIBATTR* attributes = nullptr;
    ASSERT_TRUE(SUCCEEDED(library->GetLibAttr(&attributes)));
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kTypeLibraryId));
    EXPECT_EQ(attributes->lcid, kTypeLibraryLocale);
    EXPECT_EQ(attributes->wMajorVerNum, kTypeLibraryMajor);
    EXPECT_EQ(attributes->wMinorVerNum, kTypeLibraryMinor);
    library->ReleaseTLibAttr(attributes);

    struct Type {
        const wchar_t* name;
        TYPEKIND kind;
        const wchar_t* help;
        WORD flags;
        const wchar_t* defaultInterface;
    };
    constexpr WORD kDual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    const Type expected[] = {
        {L"IProcessCollection", TKIND_DISPATCH, L"IProcessCollection Interface", kDual, nullptr},
        {L"IProcess", TKIND_DISPATCH, L"IProcess Interface", kDual, nullptr},
        {L"IComponentCollection", TKIND_DISPATCH, L"IComponentCollection Interface", kDual,
         nullptr},
        {L"IComponent", TKIND_DISPATCH, L"IComponent Interface", kDual, nullptr},
        {L"ProcessCollection", TKIND_COCLASS, L"ProcessCollection Class", TYPEFLAG_FCANCREATE,
         L"IProcessCollection"},
        {L"Process", TKIND_COCLASS, L"Process Class", TYPEFLAG_FCANCREATE, L"IProcess"},
        {L"ComponentCollection", TKIND_COCLASS, L"ComponentCollection Class",
         TYPEFLAG_FCANCREATE, L"IComponentCollection"},
        {L"Component", TKIND_COCLASS, L"Component Class", TYPEFLAG_FCANCREATE, L"IComponent"},
    };
    ASSERT_EQ(library->GetTypeInfoCount(), std::size(expected));

    std::set<Member> members;
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        library->GetDocumentation(static_cast<INT>(index), &name, &help, nullptr, nullptr);
        const std::wstring typeName = Take(name);
        const std::wstring typeHelp = Take(help);
        const auto* type = std::find_if(std::begin(expected), std::end(expected),
                                        [&](const Type& t) { return typeName == t.name; });
        ASSERT_NE(type, std::end(expected)) << testing::PrintToString(typeName);
        EXPECT_EQ(typeHelp, type->help);

        ITypeInfo* loaded = nullptr;
        ASSERT_TRUE(SUCCEEDED(library->GetTypeInfo(index, &loaded)));
        const ComOwner<ITypeInfo> info(loaded);
        TYPEATTR* typeAttributes = nullptr;
        ASSERT_TRUE(SUCCEEDED(info->GetTypeAttr(&typeAttributes)));
        EXPECT_EQ(typeAttributes->typekind, type->kind);
        EXPECT_EQ(typeAttributes->wTypeFlags & type->flags, type->flags);
        info->ReleaseTypeAttr(typeAttributes);

        if (type->kind == TKIND_COCLASS) {
            INT implementation = 0;
            HREFTYPE reference = 0;
            ITypeInfo* referenced = nullptr;
            ASSERT_TRUE(SUCCEEDED(info->GetImplTypeFlags(0, &implementation)));
            EXPECT_TRUE(implementation & IMPLTYPEFLAG_FDEFAULT);
            ASSERT_TRUE(SUCCEEDED(info->GetRefTypeOfImplType(0, &reference)));
            ASSERT_TRUE(SUCCEEDED(info->GetRefTypeInfo(reference, &referenced)));
            const ComOwner<ITypeInfo> defaultInterface(referenced);
            defaultInterface->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            EXPECT_EQ(Take(name), type->defaultInterface);
        } else {
            members.merge(MembersOf(info.get(), typeName));
        }
    }

    const std::wstring countHelp = L"Returns number of items in collection.";
    const std::wstring itemHelp = L"Given an index, returns an item in the collection.";
    const std::wstring enumHelp = L"Returns an enumerator for the collection.";
    constexpr INVOKEKIND kMethod = INVOKE_FUNC;
    constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
    constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;
    const std::set<Member> expectedMembers = {
        {L"IProcessCollection", L"Add", 1, kMethod, L"Adds processes to the collection"},
        {L"IProcessCollection", L"Count", 2, kGet, countHelp},
        {L"IProcessCollection", L"Remove", 3, kMethod, L"method Remove"},
        {L"IProcessCollection", L"Item", DISPID_VALUE, kGet, itemHelp},
        {L"IProcessCollection", L"_NewEnum", DISPID_NEWENUM, kGet, enumHelp},
        {L"IProcess", L"ComponentCollection", 1, kGet, L"property ComponentCollection"},
        {L"IProcess", L"Name", 2, kGet, L"property Name"},
        {L"IProcess", L"Name", 2, kPut, L"property Name"},
        {L"IProcess", L"ProcessId", 3, kGet, L"property ProcessId"},
        {L"IProcess", L"ProcessId", 3, kPut, L"property ProcessId"},
        {L"IComponentCollection", L"Add", 1, kMethod, L"Adds Components to the collection"},
        {L"IComponentCollection", L"Count", 2, kGet, countHelp},
        {L"IComponentCollection", L"Item", DISPID_VALUE, kGet, itemHelp},
        {L"IComponentCollection", L"_NewEnum", DISPID_NEWENUM, kGet, enumHelp},
        {L"IComponent", L"ModuleName", 1, kGet, L"property ModuleName"},
        {L"IComponent", L"ModuleName", 1, kPut, L"property ModuleName"},
        {L"IComponent", L"SizeBefore", 2, kGet, L"property SizeBefore"},
        {L"IComponent", L"SizeBefore", 2, kPut, L"property SizeBefore"},
        {L"IComponent", L"SizeAfter", 3, kGet, L"property SizeAfter"},
        {L"IComponent", L"SizeAfter", 3, kPut, L"property SizeAfter"},
        {L"IComponent", L"Savings", 4, kGet, L"property Savings"},
        {L"IComponent", L"Savings", 4, kPut, L"property Savings"},
    };
    EXPECT_EQ(members, expectedMembers);
}

TEST_F(RegistrationEndToEnd, ServiceSwitchTwiceEndsWithOneService)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    EXPECT_TRUE(OpenService());

    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    ::EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                            nullptr, 0, &needed, &count, &resume, nullptr);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(::EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                        SERVICE_STATE_ALL, buffer.data(), needed, &needed, &count,
                                        &resume, nullptr))
        << ::GetLastError();
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    const auto ours = std::count_if(services, services + count, [](const auto& s) {
        return std::wstring(s.lpServiceName) == kServiceName;
    });
    EXPECT_EQ(ours, 1);
}

TEST_F(RegistrationEndToEnd, RegServerAfterServiceLeavesAPlainServer)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    ASSERT_EQ(RunByHand(L" /RegServer"), 0u);
    EXPECT_FALSE(OpenService());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(ClassesText(kAppIdPath, L"LocalService"));
    EXPECT_EQ(ClassesText(kAppIdPath, L"ServiceParameters"), L"-Service");
    EXPECT_EQ(ClassesText(kAppIdPath, nullptr), L"vlmmrxsvc");
    EXPECT_TRUE(LoadRegisteredTypeLibrary());
    // Without "LocalService" a start by hand does nothing and does not call the dispatcher.
    EXPECT_EQ(RunByHand(L""), 0u);
}

TEST_F(RegistrationEndToEnd, UnRegServerRemovesEverythingButTheAppIdKey)
{
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    ASSERT_EQ(RunByHand(L" -UnRegServer"), 0u);
    EXPECT_FALSE(OpenService());
    EXPECT_TRUE(ClassesKeyExists(L"AppID"));
    EXPECT_FALSE(ClassesKeyExists(kAppIdPath));
    EXPECT_FALSE(ClassesKeyExists(kExecutableAppIdPath));
    EXPECT_FALSE(LoadRegisteredTypeLibrary());
    EXPECT_FALSE(ClassesKeyExists(L"TypeLib\\{273EEBCE-BBFB-4E37-A725-C029D70B671E}\\1.0"));
}

TEST_F(RegistrationEndToEnd, UnRegServerWithoutAServiceStillUnregistersAndReturnsZero)
{
    EXPECT_EQ(RunByHand(L" /UnRegServer"), 0u);  // nothing registered at all
    ASSERT_EQ(RunByHand(L" -RegServer"), 0u);
    ASSERT_TRUE(ClassesKeyExists(kAppIdPath));
    EXPECT_FALSE(OpenService());
    EXPECT_EQ(RunByHand(L" -UnRegServer"), 0u);
    EXPECT_FALSE(ClassesKeyExists(kAppIdPath));
    EXPECT_FALSE(ClassesKeyExists(kExecutableAppIdPath));
    EXPECT_FALSE(LoadRegisteredTypeLibrary());
}

}  // namespace
