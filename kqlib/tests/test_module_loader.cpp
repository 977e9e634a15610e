// Loading a module by its full path and creating its objects through the export protocol.
#include <gtest/gtest.h>
#include <string>
#include "kqDebugOutput.h"
#include "kqModuleLoader.h"
#include "kqModuleOfAddress.h"
#include "kqSmartPtr.h"
#include "kqTestModule.h"
#include "kqTestProcess.h"

namespace {

std::wstring ModulePath(const wchar_t* pszName)
{
    return kqtest::ExeFolder() + pszName;
}

bool IsMapped(const std::wstring& strPath)
{
    return GetModuleHandleW(strPath.c_str()) != nullptr;
}

LONG ModuleObjectCount(CModuleLoader& loader)
{
    PFNGETOBJECTCOUNT pfnCount = reinterpret_cast<PFNGETOBJECTCOUNT>(
        reinterpret_cast<void*>(loader.GetExport(kszGetObjectCountExport)));
    return pfnCount ? pfnCount() : -1;
}

class ModuleLoader : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(IsMapped(m_strModule)) << "another test left the module loaded"; }
    void TearDown() override
    {
        m_loader.Unload();
        EXPECT_FALSE(IsMapped(m_strModule));
    }

    const std::wstring m_strModule = ModulePath(L"kqtestmodule.dll");
    CModuleLoader m_loader;
};

// A loader whose check refuses every module.
class CRefusingLoader : public CModuleLoader
{
protected:
    HRESULT CheckModule(const wchar_t*) override { return KQERR_NOTFOUND; }
};

}  // namespace

TEST_F(ModuleLoader, LoadsByFullPathAndCreatesThroughTheFactory)
{
    ASSERT_EQ(KQ_OK, m_loader.Load(m_strModule.c_str()));
    EXPECT_TRUE(m_loader.IsLoaded());
    EXPECT_EQ(GetModuleHandleW(m_strModule.c_str()), m_loader.Handle());
    EXPECT_EQ(0, ModuleObjectCount(m_loader));
    {
        CSmartPtr<ITestObject> spObject;
        ASSERT_EQ(KQ_OK, m_loader.CreateObject(kTestObjectClassId, ITestObject::kIid, spObject.ReceiveVoid()));
        ASSERT_TRUE(spObject);
        EXPECT_EQ(kTestObjectValue, spObject->GetValue());
        // The object counts in its own module; the factory is gone already.
        EXPECT_EQ(1, ModuleObjectCount(m_loader));
    }
    EXPECT_EQ(0, ModuleObjectCount(m_loader));
}

TEST_F(ModuleLoader, SecondLoadKeepsTheModule)
{
    ASSERT_EQ(KQ_OK, m_loader.Load(m_strModule.c_str()));
    HMODULE hFirst = m_loader.Handle();
    EXPECT_EQ(KQ_OK, m_loader.Load(ModulePath(L"kqtestnocount.dll").c_str()));
    EXPECT_EQ(hFirst, m_loader.Handle());
    EXPECT_FALSE(IsMapped(ModulePath(L"kqtestnocount.dll")));
    // Unloading really frees it: the loader took exactly one load reference.
    m_loader.Unload();
    EXPECT_FALSE(m_loader.IsLoaded());
    EXPECT_FALSE(IsMapped(m_strModule));
}

TEST_F(ModuleLoader, HandsOutTheModuleTraceObject)
{
    ASSERT_EQ(KQ_OK, m_loader.Load(m_strModule.c_str()));
    for (const char* pszExport : {kszGetDebugOutputExport, kszGetDebugOutput2Export})
    {
        CDebugOutput* pOutput = m_loader.GetModuleDebugOutput(pszExport);
        ASSERT_NE(nullptr, pOutput) << pszExport;
        EXPECT_EQ(L"kqtestmodule", pOutput->m_strModuleName);
    }
    EXPECT_EQ(nullptr, m_loader.GetModuleDebugOutput("NoSuchExport"));
}

TEST_F(ModuleLoader, CreateObjectFailuresLeaveNothingAlive)
{
    void* pOut = &pOut;
    EXPECT_EQ(KQERR_INVALIDARG, m_loader.CreateObject(kTestObjectClassId, ITestObject::kIid, &pOut));
    ASSERT_EQ(KQ_OK, m_loader.Load(m_strModule.c_str()));
    EXPECT_EQ(KQERR_INVALIDARG, m_loader.CreateObject(kTestObjectClassId, ITestObject::kIid, nullptr));

    struct Case
    {
        const GUID* pClsid;
        const GUID* pIid;
        HRESULT hrExpected;
    } const cases[] = {
        {&kTestObjectClassId, &IFactory::kIid, KQERR_NOINTERFACE},  // the object lacks the interface
        {&kRefusedClassId, &ITestObject::kIid, KQERR_NOTFOUND},     // "GetFactory" refuses
        {&kNoFactoryClassId, &ITestObject::kIid, KQERR_FAIL},       // success without a factory
        {&ITestObject::kIid, &ITestObject::kIid, KQERR_INVALIDARG}, // a class the module does not know
    };
    for (const Case& c : cases)
    {
        pOut = &pOut;
        EXPECT_EQ(c.hrExpected, m_loader.CreateObject(*c.pClsid, *c.pIid, &pOut));
        EXPECT_EQ(nullptr, pOut);
        EXPECT_EQ(0, ModuleObjectCount(m_loader));
    }
}

TEST(ModuleLoaderRefusal, ModuleWithoutObjectCountIsRefusedAndUnloaded)
{
    const std::wstring strPath = ModulePath(L"kqtestnocount.dll");
    CModuleLoader loader;
    EXPECT_EQ(KQERR_NOEXPORTS, loader.Load(strPath.c_str()));
    EXPECT_EQ(static_cast<HRESULT>(0x80010302), KQERR_NOEXPORTS);
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_FALSE(IsMapped(strPath));
    void* pOut = &pOut;
    EXPECT_EQ(KQERR_INVALIDARG, loader.CreateObject(kTestObjectClassId, ITestObject::kIid, &pOut));
}

TEST(ModuleLoaderRefusal, ModuleWithoutFactoryIsRefusedAndUnloaded)
{
    const std::wstring strPath = ModulePath(L"kqtestnofactory.dll");
    CModuleLoader loader;
    EXPECT_EQ(KQERR_NOEXPORTS, loader.Load(strPath.c_str()));
    EXPECT_FALSE(IsMapped(strPath));
}

TEST(ModuleLoaderRefusal, BadPathsAndTheCheckHook)
{
    CModuleLoader loader;
    EXPECT_EQ(KQERR_INVALIDARG, loader.Load(nullptr));
    EXPECT_EQ(KQERR_INVALIDARG, loader.Load(L""));
    EXPECT_EQ(KQERR_LOADFAILED, loader.Load(ModulePath(L"kqnosuchmodule.dll").c_str()));
    EXPECT_FALSE(loader.IsLoaded());

    const std::wstring strPath = ModulePath(L"kqtestmodule.dll");
    CRefusingLoader refusing;
    EXPECT_EQ(KQERR_NOTFOUND, refusing.Load(strPath.c_str()));
    EXPECT_FALSE(refusing.IsLoaded());
    EXPECT_FALSE(IsMapped(strPath));
}

TEST(ModuleOfAddress, SystemAnswerAndModuleEnumerationAgree)
{
    const std::wstring strPath = ModulePath(L"kqtestmodule.dll");
    HMODULE hModule = LoadLibraryW(strPath.c_str());
    ASSERT_NE(nullptr, hModule);
    const void* pInModule = reinterpret_cast<const void*>(GetProcAddress(hModule, kszCreateTestObjectExport));
    const void* pInProgram = reinterpret_cast<const void*>(&ModulePath);
    int nHeapValue = 0;
    struct Case
    {
        const void* pAddress;
        HMODULE hExpected;
    } const cases[] = {
        {pInModule, hModule},
        {pInProgram, GetModuleHandleW(nullptr)},
        {&nHeapValue, nullptr},  // the stack lies in no module
        {nullptr, nullptr},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(c.hExpected, FindModuleOfAddress(c.pAddress));
        EXPECT_EQ(c.hExpected, FindModuleOfAddressInSnapshot(c.pAddress));
    }
    // The library is linked into the program here.
    EXPECT_EQ(GetModuleHandleW(nullptr), GetLibraryModule());
    FreeLibrary(hModule);
    EXPECT_FALSE(IsMapped(strPath));
}
