// The class registry: registrations of every kind, creation by class id, repository lookups
// and the module references an entry keeps.
#include <gtest/gtest.h>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include "kqInstanceFactoryImpl.h"
#include "kqLibraryClasses.h"
#include "kqSmartPtr.h"
#include "kqTestModule.h"
#include "kqTestSilo.h"
#include "kqTestTrace.h"

namespace {

constexpr GUID kLocalClassId = {0x1d2c3b4a, 0x5e6f, 0x4071, {0x82, 0x93, 0xa4, 0xb5, 0xc6, 0xd7, 0xe8, 0xf9}};

std::wstring ModulePath(const wchar_t* pszName)
{
    return kqtest::ExeFolder() + pszName;
}

bool IsMapped(const std::wstring& strPath)
{
    return GetModuleHandleW(strPath.c_str()) != nullptr;
}

// Live objects of a loaded test module (-1 when it is not loaded).
LONG ModuleObjects(const std::wstring& strPath)
{
    HMODULE hModule = GetModuleHandleW(strPath.c_str());
    if (!hModule)
        return -1;
    PFNGETOBJECTCOUNT pfnCount =
        reinterpret_cast<PFNGETOBJECTCOUNT>(reinterpret_cast<void*>(GetProcAddress(hModule, kszGetObjectCountExport)));
    return pfnCount ? pfnCount() : -1;
}

class CLocalObject : public CObjectRoot, public ITestObject
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == ITestObject::kIid)
            return AnswerInterface(static_cast<ITestObject*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    DWORD GetValue() override { return 1; }
};

IObjectBase* CreateLocal()
{
    return static_cast<ITestObject*>(new CLocalObject);
}
IObjectBase* CreateOtherLocal()
{
    return static_cast<ITestObject*>(new CLocalObject);
}
IObjectBase* CreateNothing()
{
    return nullptr;
}

// A registry of its own per case; every case must leave no object alive and the test module
// unloaded.
class InstanceFactory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_silo.IsReady());
        ASSERT_FALSE(IsMapped(m_strModule)) << "another test left the module loaded";
        m_lBaseline = GetModuleObjectCount();
        m_spFactory.Attach(new CInstanceFactoryImpl(m_silo.Isolation()));
        kqtest::ClearTrace();
    }
    void TearDown() override
    {
        m_spFactory.Reset();
        EXPECT_EQ(m_lBaseline, GetModuleObjectCount());
        EXPECT_FALSE(IsMapped(m_strModule));
    }

    kqtest::CTestSilo m_silo;
    const std::wstring m_strModule = ModulePath(L"kqtestmodule.dll");
    CSmartPtr<IInstanceFactory> m_spFactory;
    LONG m_lBaseline = 0;
};

}  // namespace

TEST_F(InstanceFactory, AnswersItsOwnIds)
{
    for (const GUID& iid : {IObjectBase::kIid, IInstanceFactory::kIid, IInstanceFactory::kIid2})
    {
        CSmartPtr<IInstanceFactory> spSame;
        ASSERT_EQ(KQ_OK, spSame.QueryFrom(m_spFactory.Get()));
        EXPECT_TRUE(spSame == m_spFactory);
        void* pOut = nullptr;
        ASSERT_EQ(KQ_OK, m_spFactory->QueryInterface(iid, &pOut));
        EXPECT_EQ(static_cast<void*>(m_spFactory.Get()), pOut);
        static_cast<IObjectBase*>(pOut)->Release();
    }
    void* pOut = &pOut;
    EXPECT_EQ(KQERR_NOINTERFACE, m_spFactory->QueryInterface(IFactory::kIid, &pOut));
    EXPECT_EQ(nullptr, pOut);
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->QueryInterface(IInstanceFactory::kIid, nullptr));
}

TEST_F(InstanceFactory, CreatorRegistrationsAreCounted)
{
    EXPECT_FALSE(m_spFactory->IsRegistered(kLocalClassId));
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kLocalClassId, &CreateLocal));
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kLocalClassId, &CreateLocal));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterClass(kLocalClassId, &CreateOtherLocal));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"is registered with another creator"));
    EXPECT_TRUE(m_spFactory->IsRegistered(kLocalClassId));
    EXPECT_TRUE(m_spFactory->IsAvailable(kLocalClassId));

    CSmartPtr<ITestObject> spObject;
    ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kLocalClassId, ITestObject::kIid, spObject.ReceiveVoid()));
    EXPECT_EQ(1u, spObject->GetValue());
    EXPECT_EQ(1, GetModuleObjectCount() - m_lBaseline - 1);  // the registry itself counts too
    spObject.Reset();

    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kLocalClassId));
    EXPECT_TRUE(m_spFactory->IsRegistered(kLocalClassId));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kLocalClassId));
    EXPECT_FALSE(m_spFactory->IsRegistered(kLocalClassId));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->UnregisterClass(kLocalClassId));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterClass(kLocalClassId, static_cast<PFNCREATEOBJECT>(nullptr)));
    EXPECT_FALSE(m_spFactory->IsRegistered(kLocalClassId));
}

TEST_F(InstanceFactory, CreationFailuresClearTheOutputAndLeaveNothingAlive)
{
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kLocalClassId, &CreateLocal));
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kTestObjectClassId, &CreateNothing));
    struct Case
    {
        const GUID* pClsid;
        const GUID* pIid;
        HRESULT hrExpected;
    } const cases[] = {
        {&kLocalClassId, &IFactory::kIid, KQERR_NOINTERFACE},          // the new object is dropped again
        {&kTestObjectClassId, &ITestObject::kIid, KQERR_OUTOFMEMORY},  // the creator gave nothing
        {&kRefusedClassId, &ITestObject::kIid, KQERR_INVALIDARG},      // registered nowhere
    };
    for (const Case& c : cases)
    {
        void* pOut = &pOut;
        EXPECT_EQ(c.hrExpected, m_spFactory->CreateInstance(*c.pClsid, *c.pIid, &pOut));
        EXPECT_EQ(nullptr, pOut);
        EXPECT_EQ(1, GetModuleObjectCount() - m_lBaseline);  // the registry alone
    }
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"class {6B0F3C2E-7A41-4D55-9C1B-2A4E5D6F7083} is not available"));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->CreateInstance(kLocalClassId, ITestObject::kIid, nullptr));
}

TEST_F(InstanceFactory, ModuleEntryKeepsItsModuleLoaded)
{
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterModule(kTestObjectClassId, m_strModule.c_str()));
    EXPECT_TRUE(IsMapped(m_strModule));
    EXPECT_EQ(KQ_OK, m_spFactory->RegisterModule(kTestObjectClassId, m_strModule.c_str()));
    // Another kind for the same class is refused.
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterClass(kTestObjectClassId, &CreateLocal));
    {
        CSmartPtr<ITestObject> spObject;
        ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
        EXPECT_EQ(kTestObjectValue, spObject->GetValue());
        EXPECT_EQ(2, ModuleObjects(m_strModule));  // the module's factory and the object
    }
    EXPECT_EQ(1, ModuleObjects(m_strModule));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_TRUE(IsMapped(m_strModule));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_FALSE(IsMapped(m_strModule));
}

TEST_F(InstanceFactory, ModuleRegisteredByHandleHoldsAReferenceOfItsOwn)
{
    HMODULE hModule = LoadLibraryW(m_strModule.c_str());
    ASSERT_NE(nullptr, hModule);
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterModule(kTestObjectClassId, hModule));
    EXPECT_EQ(KQ_OK, m_spFactory->RegisterModule(kTestObjectClassId, m_strModule.c_str()));  // the same module
    FreeLibrary(hModule);
    EXPECT_TRUE(IsMapped(m_strModule));
    CSmartPtr<ITestObject> spObject;
    ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
    spObject.Reset();
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_FALSE(IsMapped(m_strModule));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterModule(kTestObjectClassId, static_cast<HMODULE>(nullptr)));
}

TEST_F(InstanceFactory, FailedModuleRegistrationsRegisterNothingAndUnload)
{
    const std::wstring strNoFactory = ModulePath(L"kqtestnofactory.dll");
    const std::wstring strMissing = ModulePath(L"kqnosuchmodule.dll");
    // Paths of 259 characters reach the loader, 260 are refused before it.
    std::wstring strLongest = kqtest::ExeFolder();
    strLongest.resize(CObjectRepository::kMaxModulePathChars - 1, L'x');
    std::wstring strTooLong = strLongest + L'x';
    struct Case
    {
        const GUID* pClsid;
        const std::wstring* pPath;
        HRESULT hrExpected;
        const wchar_t* pszLogged;
    } const cases[] = {
        {&kTestObjectClassId, &strNoFactory, KQERR_NOEXPORTS, L"does not export GetFactory"},
        {&kRefusedClassId, &m_strModule, KQERR_NOTFOUND, L"GetFactory of "},
        {&kNoFactoryClassId, &m_strModule, KQERR_FAIL, L"GetFactory of "},
        {&kTestObjectClassId, &strMissing, KQERR_FAIL, L"cannot load "},
        {&kTestObjectClassId, &strLongest, KQERR_FAIL, L"cannot load "},
        {&kTestObjectClassId, &strTooLong, KQERR_INVALIDARG, L"module path too long"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(::testing::Message() << std::hex << c.hrExpected);
        kqtest::ClearTrace();
        EXPECT_EQ(c.hrExpected, m_spFactory->RegisterModule(*c.pClsid, c.pPath->c_str()));
        EXPECT_EQ(1u, kqtest::CountTraceLines(c.pszLogged));
        EXPECT_EQ(1u, kqtest::TraceLines().size());
        EXPECT_FALSE(m_spFactory->IsRegistered(*c.pClsid));
        EXPECT_FALSE(IsMapped(*c.pPath));
    }
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterModule(kTestObjectClassId, static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterModule(kTestObjectClassId, L""));
}

TEST_F(InstanceFactory, NamedExportRegistrations)
{
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kTestObjectClassId, m_strModule.c_str(), kszCreateTestObjectExport));
    HMODULE hModule = GetModuleHandleW(m_strModule.c_str());
    ASSERT_NE(nullptr, hModule);
    // The same export named through the module handle, or as the function itself, is the same creator.
    EXPECT_EQ(KQ_OK, m_spFactory->RegisterClass(kTestObjectClassId, hModule, kszCreateTestObjectExport));
    PFNCREATEOBJECT pfnCreate = reinterpret_cast<PFNCREATEOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(hModule, kszCreateTestObjectExport)));
    EXPECT_EQ(KQ_OK, m_spFactory->RegisterClass(kTestObjectClassId, pfnCreate));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterClass(kTestObjectClassId, hModule, kszGetDebugOutputExport));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterModule(kTestObjectClassId, hModule));
    {
        CSmartPtr<ITestObject> spObject;
        ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
        EXPECT_EQ(kTestObjectValue, spObject->GetValue());
        EXPECT_EQ(1, ModuleObjects(m_strModule));
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_FALSE(IsMapped(m_strModule));

    kqtest::ClearTrace();
    EXPECT_EQ(KQERR_NOEXPORTS, m_spFactory->RegisterClass(kTestObjectClassId, m_strModule.c_str(), "NoSuchExport"));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"export NoSuchExport not found"));
    EXPECT_FALSE(m_spFactory->IsRegistered(kTestObjectClassId));
    EXPECT_EQ(KQERR_INVALIDARG, m_spFactory->RegisterClass(kTestObjectClassId, m_strModule.c_str(), nullptr));
}

TEST_F(InstanceFactory, CreatorInAModuleKeepsThatModuleLoaded)
{
    HMODULE hModule = LoadLibraryW(m_strModule.c_str());
    ASSERT_NE(nullptr, hModule);
    PFNCREATEOBJECT pfnCreate = reinterpret_cast<PFNCREATEOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(hModule, kszCreateTestObjectExport)));
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kTestObjectClassId, pfnCreate));
    FreeLibrary(hModule);
    ASSERT_TRUE(IsMapped(m_strModule));
    CSmartPtr<ITestObject> spObject;
    ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
    EXPECT_EQ(kTestObjectValue, spObject->GetValue());
    spObject.Reset();
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_FALSE(IsMapped(m_strModule));
}

TEST_F(InstanceFactory, ModuleWithLiveObjectsIsNotFreedUnderThem)
{
    // A module of its own: it stays loaded for the rest of the process.
    const std::wstring strPinned = ModulePath(L"kqtestpinned.dll");
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterModule(kTestObjectClassId, strPinned.c_str()));
    CSmartPtr<ITestObject> spObject;
    ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_EQ(1u, kqtest::CountTraceLines(L"keeps live objects and stays loaded"));
    ASSERT_TRUE(IsMapped(strPinned));
    EXPECT_EQ(kTestObjectValue, spObject->GetValue());
    spObject.Reset();
    EXPECT_EQ(0, ModuleObjects(strPinned));
}

TEST_F(InstanceFactory, CreatorsRunOutsideTheLock)
{
    // A creator that needs the registry from another thread would deadlock under the lock.
    static IInstanceFactory* s_pFactory = nullptr;
    s_pFactory = m_spFactory.Get();
    struct Local
    {
        static IObjectBase* CreateAfterAsking()
        {
            std::future<bool> answer = std::async(std::launch::async, [] { return s_pFactory->IsRegistered(kLocalClassId); });
            if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::ready || !answer.get())
                return nullptr;
            return CreateLocal();
        }
    };
    ASSERT_EQ(KQ_OK, m_spFactory->RegisterClass(kLocalClassId, &Local::CreateAfterAsking));
    CSmartPtr<ITestObject> spObject;
    EXPECT_EQ(KQ_OK, m_spFactory->CreateInstance(kLocalClassId, ITestObject::kIid, spObject.ReceiveVoid()));
}

TEST_F(InstanceFactory, RepositoryNamesTheModuleOfAnUnknownClass)
{
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, m_strModule));
    EXPECT_FALSE(m_spFactory->IsRegistered(kTestObjectClassId));
    EXPECT_TRUE(m_spFactory->IsAvailable(kTestObjectClassId));
    {
        CSmartPtr<ITestObject> spObject;
        ASSERT_EQ(KQ_OK, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
        EXPECT_EQ(kTestObjectValue, spObject->GetValue());
    }
    // The lookup registered the module once.
    EXPECT_TRUE(m_spFactory->IsRegistered(kTestObjectClassId));
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
    EXPECT_FALSE(IsMapped(m_strModule));

    // A repository module without "GetFactory", and a repository path to nothing.
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, ModulePath(L"kqtestnofactory.dll")));
    void* pOut = &pOut;
    EXPECT_EQ(KQERR_NOEXPORTS, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, &pOut));
    EXPECT_EQ(nullptr, pOut);
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, ModulePath(L"kqnosuchmodule.dll")));
    EXPECT_EQ(KQERR_FAIL, m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, &pOut));
    EXPECT_FALSE(m_spFactory->IsRegistered(kTestObjectClassId));
}

TEST_F(InstanceFactory, RepositoryPathTokensAreExpandedBeforeLoading)
{
    struct Local
    {
        static bool Expand(const wchar_t* pszInput, std::wstring& strOutput)
        {
            std::wstring strText = pszInput;
            const std::wstring strToken = L"%KQTESTBIN%\\";
            if (strText.compare(0, strToken.size(), strToken) != 0)
                return false;
            strOutput = kqtest::ExeFolder() + strText.substr(strToken.size());
            return true;
        }
    };
    ASSERT_TRUE(m_silo.SetInProc(kTestObjectClassId, L"%KQTESTBIN%\\kqtestmodule.dll", REG_EXPAND_SZ));
    CObjectRepository::SetPathExpander(&Local::Expand);
    CSmartPtr<ITestObject> spObject;
    HRESULT hr = m_spFactory->CreateInstance(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid());
    CObjectRepository::SetPathExpander(nullptr);
    ASSERT_EQ(KQ_OK, hr);
    EXPECT_TRUE(IsMapped(m_strModule));
    spObject.Reset();
    EXPECT_EQ(KQ_OK, m_spFactory->UnregisterClass(kTestObjectClassId));
}

TEST(ProcessInstanceFactory, OneRegistryForEveryThread)
{
    std::vector<std::future<IInstanceFactory*>> calls;
    for (int i = 0; i < 8; ++i)
        calls.push_back(std::async(std::launch::async, [] { return GetInstanceFactory(); }));
    std::set<IInstanceFactory*> seen;
    for (std::future<IInstanceFactory*>& call : calls)
        seen.insert(call.get());
    ASSERT_EQ(1u, seen.size());
    IInstanceFactory* pFactory = *seen.begin();
    ASSERT_NE(nullptr, pFactory);
    EXPECT_EQ(pFactory, GetInstanceFactory());
    CSmartPtr<IInstanceFactory> spQueried;
    EXPECT_EQ(KQ_OK, spQueried.QueryFrom(pFactory));
    EXPECT_TRUE(spQueried.Get() == pFactory);
}

TEST(ProcessInstanceFactory, LibraryClassIdsAreTheDocumentedOnes)
{
    size_t cClasses = 0;
    const CLibraryClass* pClasses = GetLibraryClasses(cClasses);
    std::vector<std::wstring> ids;
    for (size_t i = 0; i < cClasses; ++i)
        ids.push_back(FormatGuid(pClasses[i].clsid));
    const std::vector<std::wstring> expected = {
        L"{740AB61D-8B4A-46CC-9D82-86F72E055477}", L"{9958D891-C319-4C6C-BEB9-F9BFB37EA493}",
        L"{3F05A321-43B7-4578-93C8-CDC5F64A149A}", L"{31324564-3B13-4533-8999-33990688F5A9}",
        L"{4FDA34C1-9899-494C-A33D-72BA6BB0F4FD}", L"{4FDA34C2-9899-494C-A33D-72BA6BB0F4FD}",
        L"{4FDA34C3-9899-494C-A33D-72BA6BB0F4FD}", L"{4FDA34C4-9899-494C-A33D-72BA6BB0F4FD}",
    };
    EXPECT_EQ(expected, ids);
    IInstanceFactory* pFactory = GetInstanceFactory();
    ASSERT_NE(nullptr, pFactory);
    for (size_t i = 0; i < cClasses; ++i)
        EXPECT_EQ(pClasses[i].pfnCreate != nullptr, pFactory->IsRegistered(pClasses[i].clsid)) << ids[i].c_str();
}
