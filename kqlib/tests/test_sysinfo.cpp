// System information, privileges, registry keys, COM initialisation and version resources.
#include <gtest/gtest.h>

#include <objbase.h>
#include <cstring>
#include <thread>
#include <vector>

#include "kqComInitializer.h"
#include "kqPrivilege.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqVersionInfo.h"

namespace {

COsVersion Os(DWORD dwPlatform, DWORD dwMajor, DWORD dwMinor, DWORD dwBuild, BYTE bProduct = VER_NT_WORKSTATION)
{
    COsVersion os;
    os.dwPlatformId = dwPlatform;
    os.dwMajorVersion = dwMajor;
    os.dwMinorVersion = dwMinor;
    os.dwBuildNumber = dwBuild;
    os.bProductType = bProduct;
    return os;
}

TEST(SystemInfo, VersionChecks)
{
    const DWORD NT = VER_PLATFORM_WIN32_NT;
    const DWORD W9X = VER_PLATFORM_WIN32_WINDOWS;
    struct Case
    {
        const char* pszName;
        COsVersion os;
        bool b9x, bMe, bMeLater, bNT4Later, b2000, b2000Later, bXP, bXPLater, bVista, bVistaSP1, bVistaLater;
    };
    const Case cases[] = {
        {"98", Os(W9X, 4, 10, 2222), true, false, false, false, false, false, false, false, false, false, false},
        {"Me", Os(W9X, 4, 90, 3000), true, true, true, false, false, false, false, false, false, false, false},
        {"NT4", Os(NT, 4, 0, 1381), false, false, false, true, false, false, false, false, false, false, false},
        {"2000", Os(NT, 5, 0, 2195), false, false, false, true, true, true, false, false, false, false, false},
        {"XP", Os(NT, 5, 1, 2600), false, false, false, true, false, true, true, true, false, false, false},
        {"XP x64", Os(NT, 5, 2, 3790), false, false, false, true, false, true, true, true, false, false, false},
        {"Server 2003", Os(NT, 5, 2, 3790, VER_NT_SERVER), false, false, false, true, false, true, false, true, false,
         false, false},
        {"Vista RTM", Os(NT, 6, 0, 6000), false, false, false, true, false, true, false, true, true, false, true},
        {"Vista SP1", Os(NT, 6, 0, 6001), false, false, false, true, false, true, false, true, false, true, true},
        {"Windows 7", Os(NT, 6, 1, 7601), false, false, false, true, false, true, false, true, false, false, true},
        {"Windows 10", Os(NT, 10, 0, 19045), false, false, false, true, false, true, false, true, false, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.b9x, IsWindows9x(c.os)) << c.pszName;
        EXPECT_EQ(!c.b9x, IsWindowsNT(c.os)) << c.pszName;
        EXPECT_EQ(c.bMe, IsWindowsMe(c.os)) << c.pszName;
        EXPECT_EQ(c.bMeLater, IsWindowsMeOrLater(c.os)) << c.pszName;
        EXPECT_EQ(c.bNT4Later, IsWindowsNT4OrLater(c.os)) << c.pszName;
        EXPECT_EQ(c.b2000, IsWindows2000(c.os)) << c.pszName;
        EXPECT_EQ(c.b2000Later, IsWindows2000OrLater(c.os)) << c.pszName;
        EXPECT_EQ(c.bXP, IsWindowsXP(c.os)) << c.pszName;
        EXPECT_EQ(c.bXPLater, IsWindowsXPOrLater(c.os)) << c.pszName;
        EXPECT_EQ(c.bVista, IsWindowsVista(c.os)) << c.pszName;
        EXPECT_EQ(c.bVistaSP1, IsWindowsVistaSP1(c.os)) << c.pszName;
        EXPECT_EQ(c.bVistaLater, IsWindowsVistaOrLater(c.os)) << c.pszName;
    }
}

TEST(SystemInfo, RunningSystem)
{
    EXPECT_TRUE(IsWindowsNT());
    EXPECT_TRUE(IsWindowsVistaOrLater());
    // A 32-bit build runs under WOW64 in the 64-bit prefix; a 64-bit build does not.
    EXPECT_EQ(sizeof(void*) == 4, IsWow64());
    EXPECT_EQ(sizeof(void*) == 4 ? static_cast<REGSAM>(KEY_WOW64_64KEY) : 0, Wow64RegistryView());
    // Wine runs everyone as an elevated administrator.
    bool bElevationNeeded = true;
    EXPECT_TRUE(IsUserAdmin(&bElevationNeeded));
    EXPECT_FALSE(bElevationNeeded);
}

bool IsPrivilegeEnabled(const wchar_t* pszName)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    LUID luid;
    LookupPrivilegeValueW(nullptr, pszName, &luid);
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenPrivileges, nullptr, 0, &cb);
    std::vector<BYTE> buffer(cb);
    bool bEnabled = false;
    if (GetTokenInformation(hToken, TokenPrivileges, buffer.data(), cb, &cb)) {
        auto* pPrivileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < pPrivileges->PrivilegeCount; ++i) {
            const LUID& l = pPrivileges->Privileges[i].Luid;
            if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart)
                bEnabled = (pPrivileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    CloseHandle(hToken);
    return bEnabled;
}

TEST(Privilege, EnabledWhileHeldAndRestoredAfterwards)
{
    const wchar_t* pszName = SE_SHUTDOWN_NAME;
    bool bBefore = IsPrivilegeEnabled(pszName);
    {
        CPrivilege privilege;
        ASSERT_TRUE(privilege.Enable(pszName));
        EXPECT_TRUE(IsPrivilegeEnabled(pszName));
    }
    EXPECT_EQ(bBefore, IsPrivilegeEnabled(pszName));
}

TEST(Privilege, UnknownPrivilegeFails)
{
    CPrivilege privilege;
    EXPECT_FALSE(privilege.Enable(L"SeNoSuchPrivilege"));
    EXPECT_FALSE(privilege.EnableForThread(L"SeNoSuchPrivilege"));
    EXPECT_FALSE(privilege.Enable(nullptr));
}

class RegistryKeyTest : public ::testing::Test
{
protected:
    RegistryKeyTest() : m_tree(L"Software\\KqTest\\" + kqtest::NewGuidString()) {}
    REGSAM Access() const { return KEY_ALL_ACCESS | Wow64RegistryView(); }
    kqtest::CScopedRegistryTree m_tree;
};

TEST_F(RegistryKeyTest, TypedReadsRefuseOtherTypes)
{
    m_tree.SetString(L"", L"sz", L"text");
    m_tree.SetString(L"", L"expand", L"%TEMP%\\x", REG_EXPAND_SZ);
    m_tree.SetDWORD(L"", L"dw", 42);
    const BYTE abOdd[3] = {'a', 0, 'b'};
    m_tree.SetBinary(L"", L"odd", abOdd, sizeof(abOdd), REG_SZ);
    // No closing zero. The system adds one when the character behind the data is zero, so
    // a non-zero character follows the three that are stored.
    const wchar_t aMulti[] = {L'a', 0, L'b', L'X'};
    m_tree.SetBinary(L"", L"multi", aMulti, 3 * sizeof(wchar_t), REG_MULTI_SZ);
    const BYTE abBig[8] = {};
    m_tree.SetBinary(L"", L"qword", abBig, sizeof(abBig), REG_QWORD);

    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, m_tree.Path().c_str(), Access()));
    std::wstring str;
    EXPECT_TRUE(key.QueryString(L"sz", str));
    EXPECT_EQ(L"text", str);
    EXPECT_TRUE(key.QueryString(L"expand", str));
    EXPECT_EQ(L"%TEMP%\\x", str);
    EXPECT_FALSE(key.QueryString(L"dw", str));
    EXPECT_EQ(ERROR_INVALID_DATA, key.GetLastError());
    EXPECT_FALSE(key.QueryString(L"odd", str));
    EXPECT_EQ(ERROR_INVALID_DATA, key.GetLastError());
    EXPECT_FALSE(key.QueryString(L"missing", str));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.GetLastError());
    // A value longer than any path is refused before it is read, unless the caller allows more.
    const std::wstring strLong(40000, L'x');
    ASSERT_TRUE(m_tree.SetString(L"", L"long", strLong));
    EXPECT_FALSE(key.QueryString(L"long", str));
    EXPECT_EQ(ERROR_INVALID_DATA, key.GetLastError());
    EXPECT_TRUE(key.QueryString(L"long", str, 100000));
    EXPECT_EQ(strLong, str);

    DWORD dw = 0;
    EXPECT_TRUE(key.QueryDWORD(L"dw", dw));
    EXPECT_EQ(42u, dw);
    EXPECT_FALSE(key.QueryDWORD(L"sz", dw));
    EXPECT_FALSE(key.QueryDWORD(L"qword", dw));
    EXPECT_EQ(ERROR_INVALID_DATA, key.GetLastError());
    EXPECT_TRUE(key.SetDWORD(L"dw", 7));
    EXPECT_TRUE(key.QueryDWORD(L"dw", dw));
    EXPECT_EQ(7u, dw);

    wchar_t szBuffer[16];
    DWORD cb = sizeof(szBuffer);
    EXPECT_FALSE(key.QueryValue(L"multi", szBuffer, &cb));
    EXPECT_EQ(ERROR_INVALID_DATA, key.GetLastError());
    cb = 0;
    EXPECT_FALSE(key.QueryValue(L"sz", szBuffer, &cb));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GetLastError());
    cb = sizeof(szBuffer);
    EXPECT_TRUE(key.QueryValue(L"sz", szBuffer, &cb));
    EXPECT_STREQ(L"text", szBuffer);
}

TEST_F(RegistryKeyTest, OpenCreateAndHandleOwnership)
{
    CRegistryKey key;
    std::wstring strChild = m_tree.Path() + L"\\child";
    EXPECT_FALSE(key.Open(HKEY_LOCAL_MACHINE, strChild.c_str(), Access()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.GetLastError());
    EXPECT_TRUE(key.Open(HKEY_LOCAL_MACHINE, strChild.c_str(), Access(), true));
    EXPECT_FALSE(key.Create(HKEY_LOCAL_MACHINE, nullptr, Access()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GetLastError());
    EXPECT_FALSE(key.IsOpen());

    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, strChild.c_str(), Access()));
    HKEY hKey = key.Detach();
    EXPECT_FALSE(key.IsOpen());
    key.Attach(hKey);
    EXPECT_TRUE(key.SetDWORD(L"v", 1));
}

TEST_F(RegistryKeyTest, VolatileCreateReplacesAPersistentKey)
{
    std::wstring strKey = m_tree.Path() + L"\\vol";
    m_tree.SetDWORD(L"vol\\sub", L"old", 1);
    {
        CRegistryKey key;
        ASSERT_TRUE(key.Create(HKEY_LOCAL_MACHINE, strKey.c_str(), Access(), REG_OPTION_VOLATILE));
    }
    CRegistryKey sub;
    EXPECT_FALSE(sub.Open(HKEY_LOCAL_MACHINE, (strKey + L"\\sub").c_str(), Access()));
    // A volatile key refuses persistent children.
    HKEY hChild = nullptr;
    CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, strKey.c_str(), Access()));
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExW(key.Handle(), L"p", 0, nullptr, REG_OPTION_NON_VOLATILE, Access(), nullptr, &hChild,
                              nullptr));
    // Creating it volatile again keeps what it holds.
    ASSERT_TRUE(key.SetDWORD(L"kept", 5));
    CRegistryKey again;
    ASSERT_TRUE(again.Create(HKEY_LOCAL_MACHINE, strKey.c_str(), Access(), REG_OPTION_VOLATILE));
    DWORD dw = 0;
    EXPECT_TRUE(again.QueryDWORD(L"kept", dw));
}

TEST(ComInitializer, Modes)
{
    struct Result { HRESULT hrBad, hrNone, hrMta; } result = {};
    // A thread of its own, so the test's main thread keeps whatever apartment it has.
    std::thread([&result] {
        CComInitializer com;
        result.hrBad = com.Initialize(7);
        result.hrNone = com.Initialize(eComMode_None);
        result.hrMta = com.Initialize(eComMode_MultiThreaded);
        com.Uninitialize();
    }).join();
    EXPECT_EQ(E_FAIL, result.hrBad);
    EXPECT_EQ(S_OK, result.hrNone);
    EXPECT_EQ(S_OK, result.hrMta);
}

TEST(VersionInfo, ReadsTheProgramsVersionResource)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Read((kqtest::ExeFolder() + L"Bootling.exe").c_str()));
    EXPECT_EQ(0x00060000u, info.FixedInfo().dwFileVersionMS);
    EXPECT_EQ(0x0000005Eu, info.FixedInfo().dwFileVersionLS);
    EXPECT_EQ(L"6.0.0.94", info.GetString(L"FileVersion"));
    EXPECT_EQ(L"Bootling.exe", info.GetString(L"OriginalFilename"));
    EXPECT_EQ(L"", info.GetString(L"SpecialBuild"));

    CVersionInfo none;
    EXPECT_FALSE(none.Read((kqtest::ExeFolder() + L"no-such-file.exe").c_str()));
}

// A version resource of nothing but its root: header, key and fixed part, whose length the
// root states as cbStatedFixed while the resource holds only cbFixedPresent bytes of it.
std::vector<BYTE> RootOnlyVersionResource(WORD cbStatedFixed, size_t cbFixedPresent, DWORD dwFileVersionMS)
{
    static const wchar_t s_szKey[] = L"VS_VERSION_INFO";
    const size_t cbHeader = 3 * sizeof(WORD) + sizeof(s_szKey);
    const size_t cbValueAt = (cbHeader + 3) & ~size_t(3);
    std::vector<BYTE> bytes(cbValueAt + cbFixedPresent);
    const WORD awHeader[3] = {static_cast<WORD>(bytes.size()), cbStatedFixed, 0};
    memcpy(bytes.data(), awHeader, sizeof(awHeader));
    memcpy(bytes.data() + sizeof(awHeader), s_szKey, sizeof(s_szKey));
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
    fixed.dwFileVersionMS = dwFileVersionMS;
    memcpy(bytes.data() + cbValueAt, &fixed, cbFixedPresent < sizeof(fixed) ? cbFixedPresent : sizeof(fixed));
    return bytes;
}

TEST(VersionInfo, RefusesAFixedPartReachingPastTheBlock)
{
    struct Case
    {
        const char* pszName;
        size_t cbFixedPresent;
        bool bRead;
    };
    // The block the version functions fill is about twice the resource, so a root that
    // states a whole fixed part but carries none reaches past the block's end.
    const Case cases[] = {
        {"whole fixed part", sizeof(VS_FIXEDFILEINFO), true},
        {"fixed part missing", 0, false},
    };
    kqtest::CTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::wstring strPath = dir.File(L"versioned.exe");
        ASSERT_TRUE(CopyFileW((kqtest::ExeFolder() + L"kqlib_lockholder.exe").c_str(), strPath.c_str(), FALSE));
        std::vector<BYTE> resource =
            RootOnlyVersionResource(sizeof(VS_FIXEDFILEINFO), c.cbFixedPresent, 0x00020003);
        HANDLE hUpdate = BeginUpdateResourceW(strPath.c_str(), FALSE);
        ASSERT_NE(nullptr, hUpdate);
        ASSERT_TRUE(UpdateResourceW(hUpdate, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), resource.data(),
                                    static_cast<DWORD>(resource.size())));
        ASSERT_TRUE(EndUpdateResourceW(hUpdate, FALSE));

        CVersionInfo info;
        EXPECT_EQ(c.bRead, info.Read(strPath.c_str()));
        if (c.bRead) {
            EXPECT_EQ(0x00020003u, info.FixedInfo().dwFileVersionMS);
            EXPECT_EQ(L"", info.GetString(L"FileVersion"));
        }
    }
}

}  // namespace
