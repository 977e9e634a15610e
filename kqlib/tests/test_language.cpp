#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kqIsolation.h"
#include "kqLanguageInfo.h"
#include "kqLanguageText.h"
#include "kqResourceLocator.h"
#include "kqSmartPtr.h"
#include "kqSystemInfo.h"
#include "kqTestFiles.h"
#include "kqValueCollection.h"

namespace {

using kqtest::CTempDir;

std::string Utf16(const std::wstring& strText, bool bMark = true)
{
    std::string bytes = bMark ? std::string("\xFF\xFE") : std::string();
    for (wchar_t ch : strText) {
        bytes.push_back(static_cast<char>(ch & 0xFF));
        bytes.push_back(static_cast<char>(ch >> 8));
    }
    return bytes;
}

void MakeFolder(const std::wstring& strPath)
{
    size_t pos = 0;
    while ((pos = strPath.find(L'\\', pos + 1)) != std::wstring::npos)
        CreateDirectoryW(strPath.substr(0, pos).c_str(), nullptr);
    CreateDirectoryW(strPath.c_str(), nullptr);
}

// Writes a file, making its folders first.
void Put(const std::wstring& strPath, const std::string& bytes = "x")
{
    MakeFolder(strPath.substr(0, strPath.find_last_of(L'\\')));
    ASSERT_TRUE(kqtest::WriteFileBytes(strPath, bytes)) << std::string(strPath.begin(), strPath.end());
}

// ---------------------------------------------------------------------------------------------
// Texts and file formats

TEST(LanguageText, SubFolderOfLanguage)
{
    struct Case
    {
        WORD wLanguage;
        const wchar_t* pszFolder;
    } cases[] = {
        {0x0409, L"09\\01"}, {0x0009, L"09"},  {0x0407, L"07\\01"},    {0x0804, L"04\\02"},
        {0x0C0A, L"0a\\03"}, {0x0123, L"123"}, {0x0523, L"123\\01"},   {0x03FF, L"3ff"},
        {0xFC1F, L"1f\\3f"}, {0x00FF, L"ff"},  {0x0100, L"100"},
    };
    for (const Case& c : cases) {
        std::wstring strFolder;
        EXPECT_TRUE(GetLanguageSubFolder(c.wLanguage, strFolder)) << c.wLanguage;
        EXPECT_EQ(c.pszFolder, strFolder) << c.wLanguage;
    }
    // Without a primary language there is no folder.
    std::wstring strFolder = L"kept";
    EXPECT_FALSE(GetLanguageSubFolder(0x0400, strFolder));
    EXPECT_FALSE(GetLanguageSubFolder(0, strFolder));
    EXPECT_EQ(L"kept", strFolder);
}

TEST(LanguageText, HexLanguageNumbers)
{
    struct Case
    {
        const wchar_t* pszText;
        bool bRead;
        WORD wValue;
    } cases[] = {
        {L"409", true, 0x409},    {L"  \t407", true, 0x407}, {L"0x40c", true, 0x40C}, {L"FFFF", true, 0xFFFF},
        {L"409 junk", true, 0x409}, {L"40G", true, 0x40},    {L"0", true, 0},         {L"0x", true, 0},
        {L"", false, 0},          {L"   ", false, 0},        {L"G1", false, 0},       {L"-407", false, 0},
        {L"10000", false, 0},     {L"0000000409", true, 0x409}, {L"409abcdef", false, 0},
    };
    for (const Case& c : cases) {
        WORD wValue = 0xABCD;
        EXPECT_EQ(c.bRead, ReadHexLanguage(std::wstring(c.pszText), wValue)) << c.pszText;
        EXPECT_EQ(c.bRead ? c.wValue : 0xABCD, wValue) << c.pszText;
    }
}

TEST(LanguageText, DecodesMarkedUtf16AndAnsi)
{
    struct Case
    {
        std::string bytes;
        std::wstring strText;
    } cases[] = {
        {"409=English", L"409=English"},
        {Utf16(L"409=Engl\x00e4nder"), L"409=Engl\x00e4nder"},
        // An odd last byte of a UTF-16 file is no character.
        {Utf16(L"409") + "\x41", L"409"},
        {"\xFF\xFE", L""},
        {"\xFF", L"\xFF"},
        // Text ends at the first zero.
        {std::string("407\0junk", 8), L"407"},
        {Utf16(std::wstring(L"407\0junk", 8)), L"407"},
        {"", L""},
    };
    for (const Case& c : cases) {
        std::wstring strText = L"old";
        ASSERT_TRUE(DecodeLanguageFileText(reinterpret_cast<const BYTE*>(c.bytes.data()), c.bytes.size(), strText));
        // A single 8-bit byte converts in the code page; only compare exact cases.
        if (c.bytes != "\xFF") {
            EXPECT_EQ(c.strText, strText);
        }
    }
}

TEST(LanguageText, FolderMapLines)
{
    std::vector<CLanguageFolderEntry> entries;
    ASSERT_TRUE(ParseLanguageFolderMap(L"409=English\r\n"
                                       L"  40c =  French Files \t\n"
                                       L"no number=Skipped\n"
                                       L"\n"
                                       L"407\n"
                                       L"10000=TooLarge\n"
                                       L"0x416=Portuguese=Brazil\n"
                                       L"411=..\n"
                                       L"412=..\\..\\Windows\n"
                                       L"413=C:Dutch\n"
                                       L"414=sub/dir\n"
                                       // Names Windows would take for another name or a device.
                                       L"417=...\n"
                                       L"418=Dutch.\n"
                                       L"419=CON\n"
                                       L"41a=nul.txt\n"
                                       L"41b=Ital\x01ian\n"
                                       L"415=\n"
                                       L"804=Chinese",
                                       entries));
    struct Expected
    {
        WORD wLanguage;
        const wchar_t* pszName;
    } expected[] = {
        {0x409, L"English"}, {0x40C, L"French Files"}, {0x416, L"Portuguese=Brazil"}, {0x415, L""}, {0x804, L"Chinese"},
    };
    ASSERT_EQ(ARRAYSIZE(expected), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(expected[i].wLanguage, entries[i].wLanguage) << i;
        EXPECT_EQ(expected[i].pszName, entries[i].strName) << i;
    }
}

TEST(LanguageText, SubstitutionPairs)
{
    struct Case
    {
        const wchar_t* pszText;
        std::vector<std::pair<WORD, WORD>> pairs;
    } cases[] = {
        {L"407 409", {{0x407, 0x409}}},
        {L"407 409,40c 409,", {{0x407, 0x409}, {0x40C, 0x409}}},
        // A later pair replaces an earlier one.
        {L"407 409,407 40c", {{0x407, 0x40C}}},
        // A five-character field ends the reading; what was read stays.
        {L"407 409,12345 1,408 409", {{0x407, 0x409}}},
        {L"407 40900,408 409", {}},
        // Line breaks are field characters: one still fits, two make five characters.
        {L"407 409,\n408 409", {{0x407, 0x409}, {0x408, 0x409}}},
        {L"407 409,\r\n408 409", {{0x407, 0x409}}},
        // Pairs that are not two numbers are skipped.
        {L"zz 409,407,408 409", {{0x408, 0x409}}},
        {L"", {}},
        {L",,,,", {}},
    };
    for (const Case& c : cases) {
        std::map<WORD, WORD> map;
        ASSERT_TRUE(ParseLanguageSubstitutions(c.pszText, map)) << c.pszText;
        EXPECT_EQ((std::map<WORD, WORD>(c.pairs.begin(), c.pairs.end())), map) << c.pszText;
    }
}

// ---------------------------------------------------------------------------------------------
// The locator on a silo of its own

class FakeLanguageSystem : public CLanguageSystem
{
public:
    LANGID UserDefaultUILanguage() const override { return wUser; }
    LANGID SystemDefaultUILanguage() const override { return wSystem; }
    LANGID wUser = 0;
    LANGID wSystem = 0;
};

// A registry key made for a test, removed with the keys above it that did not exist before.
class CScopedKey
{
public:
    CScopedKey(HKEY hRoot, const std::wstring& strPath) : m_hRoot(hRoot), m_strPath(strPath)
    {
        std::wstring strKey = strPath;
        size_t slash;
        while ((slash = strKey.find_last_of(L'\\')) != std::wstring::npos) {
            strKey.resize(slash);
            HKEY hKey = nullptr;
            if (RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ | Wow64RegistryView(), &hKey) == ERROR_SUCCESS) {
                RegCloseKey(hKey);
                break;
            }
            m_vecMadeParents.push_back(strKey);
        }
        HKEY hKey = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hRoot, strPath.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | Wow64RegistryView(), nullptr, &hKey, nullptr));
        RegCloseKey(hKey);
    }
    ~CScopedKey()
    {
        RegDeleteKeyExW(m_hRoot, m_strPath.c_str(), Wow64RegistryView(), 0);
        for (const std::wstring& strParent : m_vecMadeParents)
            RegDeleteKeyExW(m_hRoot, strParent.c_str(), Wow64RegistryView(), 0);
    }
    void SetString(const wchar_t* pszName, const std::wstring& strValue)
    {
        SetRaw(pszName, REG_SZ, strValue.c_str(), static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
    }
    void SetRaw(const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData)
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(m_hRoot, m_strPath.c_str(), 0, KEY_SET_VALUE | Wow64RegistryView(), &hKey));
        RegSetValueExW(hKey, pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData);
        RegCloseKey(hKey);
    }
    void Delete(const wchar_t* pszName)
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(m_hRoot, m_strPath.c_str(), 0, KEY_SET_VALUE | Wow64RegistryView(), &hKey));
        RegDeleteValueW(hKey, pszName);
        RegCloseKey(hKey);
    }

private:
    HKEY m_hRoot;
    std::wstring m_strPath;
    std::vector<std::wstring> m_vecMadeParents;
};

const wchar_t kFile[] = L"SetupShell.loc";
// No isolate.ini lies above this path: the silo gets the default hive.
const wchar_t kModuleWithoutIni[] = L"C:\\kq-language-test\\prog.exe";

class LanguageTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_spIsolation.reset(new CIsolation(kModuleWithoutIni));
        ASSERT_TRUE(m_spIsolation->SetSiloID(kqtest::NewGuidString().c_str()));
        ASSERT_TRUE(m_spIsolation->GetSiloRegistryRoot(m_strRoot));
        m_spInfo.reset(new CLanguageInfo(*m_spIsolation, m_system));
    }
    void TearDown() override
    {
        m_spUserKey.reset();
        m_spMachineKey.reset();
        std::wstring strCommon;
        if (m_spIsolation->GetCommonSiloDataPath(strCommon))
            kqtest::RemoveTree(strCommon);
    }

    // A fresh locator: its process-wide state starts empty again.
    void Renew() { m_spInfo.reset(new CLanguageInfo(*m_spIsolation, m_system)); }

    CScopedKey& UserKey()
    {
        if (!m_spUserKey)
            m_spUserKey.reset(new CScopedKey(HKEY_CURRENT_USER, m_strRoot + L"\\ResourceConfig"));
        return *m_spUserKey;
    }
    CScopedKey& MachineKey()
    {
        if (!m_spMachineKey)
            m_spMachineKey.reset(new CScopedKey(HKEY_LOCAL_MACHINE, m_strRoot + L"\\LanguageConfig"));
        return *m_spMachineKey;
    }
    void SetCurrentUILanguage(const std::wstring& strText) { UserKey().SetString(L"Current UI Language", strText); }
    void SetDefaultLanguage(const std::wstring& strText) { MachineKey().SetString(L"Default Language", strText); }

    // Locates kFile below the temporary folder; the language, or 0 with an empty path.
    WORD Locate(std::wstring* pstrPath = nullptr)
    {
        std::wstring strPath = L"old";
        LANGID wLanguage = 0xFFFF;
        bool bFound = m_spInfo->LocateResourceModule(m_temp.Path().c_str(), kFile, strPath, wLanguage);
        EXPECT_EQ(bFound, wLanguage != 0);
        EXPECT_EQ(bFound, !strPath.empty());
        if (bFound) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strPath.c_str()));
        }
        if (pstrPath)
            *pstrPath = strPath;
        return wLanguage;
    }

    std::vector<WORD> Available(const std::wstring& strBase)
    {
        std::vector<WORD> languages;
        EXPECT_TRUE(m_spInfo->GetAvailableLanguages(strBase.c_str(), languages));
        return languages;
    }
    static std::vector<WORD> Sorted(std::vector<WORD> languages)
    {
        std::sort(languages.begin(), languages.end());
        return languages;
    }

    CTempDir m_temp;
    FakeLanguageSystem m_system;
    std::unique_ptr<CIsolation> m_spIsolation;
    std::unique_ptr<CLanguageInfo> m_spInfo;
    std::wstring m_strRoot;
    std::unique_ptr<CScopedKey> m_spUserKey;
    std::unique_ptr<CScopedKey> m_spMachineKey;
};

TEST_F(LanguageTest, CurrentUILanguageComesFirst)
{
    SetCurrentUILanguage(L"407");
    m_system.wUser = 0x0409;
    Put(m_temp / L"07\\01\\SetupShell.loc");
    Put(m_temp / L"09\\01\\SetupShell.loc");
    std::wstring strPath;
    EXPECT_EQ(0x0407, Locate(&strPath));
    EXPECT_EQ(m_temp / L"07\\01\\SetupShell.loc", strPath);
}

TEST_F(LanguageTest, LanguageWithSublanguageIgnoresNeutralFolder)
{
    SetCurrentUILanguage(L"407");
    Put(m_temp / L"07\\SetupShell.loc");
    EXPECT_EQ(0, Locate());
    // A neutral language finds it.
    Renew();
    SetCurrentUILanguage(L"7");
    EXPECT_EQ(0x0007, Locate());
}

TEST_F(LanguageTest, CandidatesInOrder)
{
    // Folders that exist: each case names the languages it lays out; the first found wins.
    struct Case
    {
        const char* pszName;
        LANGID wUser;
        LANGID wSystem;
        const wchar_t* pszDefault;  // the silo's "Default Language", or none
        const char* pszFallback;    // fallback.dat, or none
        std::vector<WORD> folders;
        WORD wExpected;
    } cases[] = {
        {"user", 0x0407, 0x040C, L"410", "409", {0x0407, 0x040C, 0x0410, 0x0409}, 0x0407},
        {"system", 0x0407, 0x040C, L"410", "409", {0x040C, 0x0410, 0x0409}, 0x040C},
        {"default", 0x0407, 0x040C, L"410", "409", {0x0410, 0x0409}, 0x0410},
        {"fallback", 0x0407, 0x040C, L"410", "409", {0x0409}, 0x0409},
        {"none", 0x0407, 0x040C, L"410", "409", {0x0416}, 0},
        {"zero user skipped", 0, 0x040C, nullptr, nullptr, {0x040C}, 0x040C},
        {"default not a number", 0, 0, L"French", "409", {0x0409}, 0x0409},
        {"fallback zero", 0, 0, nullptr, "0", {0x0409}, 0},
        {"fallback not a number", 0, 0, nullptr, "English", {0x0409}, 0},
        {"nothing set", 0, 0, nullptr, nullptr, {0x0409}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempDir base;
        m_system.wUser = c.wUser;
        m_system.wSystem = c.wSystem;
        if (c.pszDefault)
            SetDefaultLanguage(c.pszDefault);
        else
            MachineKey().Delete(L"Default Language");
        if (c.pszFallback)
            Put(base / L"fallback.dat", c.pszFallback);
        for (WORD wFolder : c.folders) {
            std::wstring strSub;
            ASSERT_TRUE(GetLanguageSubFolder(wFolder, strSub));
            Put(base / (strSub + L"\\SetupShell.loc"));
        }
        Renew();
        std::wstring strPath;
        LANGID wLanguage = 0;
        EXPECT_EQ(c.wExpected != 0, m_spInfo->LocateResourceModule(base.Path().c_str(), kFile, strPath, wLanguage));
        EXPECT_EQ(c.wExpected, wLanguage);
    }
}

TEST_F(LanguageTest, SubstituteFollowsItsLanguage)
{
    // maplngid.dat in the base folder (the silo's data folder does not exist): 0407 -> 0409.
    m_system.wUser = 0x0407;
    m_system.wSystem = 0x040C;
    Put(m_temp / L"maplngid.dat", "0407 0409");
    Put(m_temp / L"09\\01\\SetupShell.loc");
    Put(m_temp / L"0c\\01\\SetupShell.loc");
    std::wstring strPath;
    EXPECT_EQ(0x0409, Locate(&strPath));
    EXPECT_EQ(m_temp / L"09\\01\\SetupShell.loc", strPath);
    EXPECT_EQ(0x0409, m_spInfo->MapLanguageId(0x0407, m_temp.Path().c_str()));
    EXPECT_EQ(0, m_spInfo->MapLanguageId(0x040C, m_temp.Path().c_str()));
}

TEST_F(LanguageTest, SubstitutionFileSizes)
{
    struct Case
    {
        const char* pszName;
        std::string bytes;
        WORD wExpected;
    } cases[] = {
        {"8 bytes", "407 409,", 0},
        {"9 bytes", "0407 0409", 0x0409},
        {"900 bytes", "0407 0409" + std::string(891, ','), 0x0409},
        {"901 bytes", "0407 0409" + std::string(892, ','), 0},
        {"huge", "0407 0409" + std::string(1 << 20, ','), 0},
        {"utf-16", Utf16(L"407 40c"), 0x040C},
        {"utf-16 odd size", Utf16(L"407 40c") + "\x01", 0x040C},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempDir base;
        Put(base / L"maplngid.dat", c.bytes);
        Renew();
        EXPECT_EQ(c.wExpected, m_spInfo->MapLanguageId(0x0407, base.Path().c_str()));
    }
}

TEST_F(LanguageTest, SubstitutionsLoadOnceFromSiloFolderFirst)
{
    std::wstring strCommon;
    ASSERT_TRUE(m_spIsolation->GetCommonSiloDataPath(strCommon));
    Put(strCommon + L"\\maplngid.dat", "0407 040c");
    Put(m_temp / L"maplngid.dat", "0407 0409");
    EXPECT_EQ(0x040C, m_spInfo->MapLanguageId(0x0407, m_temp.Path().c_str()));
    // Loaded once: neither a changed file nor another base folder is read again.
    Put(strCommon + L"\\maplngid.dat", "0407 0410");
    CTempDir other;
    Put(other / L"maplngid.dat", "0407 0416");
    EXPECT_EQ(0x040C, m_spInfo->MapLanguageId(0x0407, other.Path().c_str()));
    // A silo file that opens but is refused does not send the search to the base folder.
    Renew();
    Put(strCommon + L"\\maplngid.dat", "1");
    EXPECT_EQ(0, m_spInfo->MapLanguageId(0x0407, m_temp.Path().c_str()));
}

TEST_F(LanguageTest, FallbackFileSizes)
{
    struct Case
    {
        const char* pszName;
        std::string bytes;
        WORD wExpected;
    } cases[] = {
        {"plain", "409", 0x0409},
        {"14 bytes", "0409          ", 0x0409},
        {"15 bytes", "0409           ", 0},
        {"utf-16", Utf16(L"40c"), 0x040C},
        {"utf-16 odd", Utf16(L"40c") + "\x30", 0x040C},
        {"mark only", "\xFF\xFE", 0},
        {"empty", "", 0},
        {"too large number", "10409", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempDir base;
        Put(base / L"fallback.dat", c.bytes);
        EXPECT_EQ(c.wExpected, CLanguageInfo::ReadFallbackLanguage(base.Path().c_str()));
    }
    EXPECT_EQ(0, CLanguageInfo::ReadFallbackLanguage((m_temp / L"missing").c_str()));
    EXPECT_EQ(0, CLanguageInfo::ReadFallbackLanguage(nullptr));
}

TEST_F(LanguageTest, FolderMapNamesTheFolder)
{
    Put(m_temp / L"Langver.map", "409=English\r\n407 = Deutsch \r\n");
    Put(m_temp / L"English\\09\\01\\SetupShell.loc");
    Put(m_temp / L"09\\01\\SetupShell.loc");
    m_system.wUser = 0x0409;
    std::wstring strPath;
    EXPECT_EQ(0x0409, Locate(&strPath));
    EXPECT_EQ(m_temp / L"English\\09\\01\\SetupShell.loc", strPath);

    std::wstring strName;
    EXPECT_TRUE(m_spInfo->GetLanguageFolderName(0x0407, m_temp.Path().c_str(), strName));
    EXPECT_EQ(L"Deutsch", strName);
    // Base folders compare without regard to case or a closing backslash.
    std::wstring strUpper = m_temp.Path();
    CharUpperW(&strUpper[0]);
    EXPECT_TRUE(m_spInfo->GetLanguageFolderName(0x0409, (strUpper + L"\\").c_str(), strName));
    EXPECT_EQ(L"English", strName);
    EXPECT_FALSE(m_spInfo->GetLanguageFolderName(0x040C, m_temp.Path().c_str(), strName));
    // Named by the map, with no folder on disk.
    EXPECT_TRUE(m_spInfo->HasLanguage(m_temp.Path().c_str(), 0x0407));
}

TEST_F(LanguageTest, FolderMapReadOncePerBaseFolder)
{
    Put(m_temp / L"Langver.map", "409=English");
    std::wstring strName;
    EXPECT_TRUE(m_spInfo->GetLanguageFolderName(0x0409, m_temp.Path().c_str(), strName));
    Put(m_temp / L"Langver.map", "409=Other\n40c=French");
    EXPECT_FALSE(m_spInfo->GetLanguageFolderName(0x040C, m_temp.Path().c_str(), strName));
    EXPECT_TRUE(m_spInfo->GetLanguageFolderName(0x0409, m_temp.Path().c_str(), strName));
    EXPECT_EQ(L"English", strName);
}

TEST_F(LanguageTest, LongFolderMapIsCutAtWholeLines)
{
    // 399 ten-byte lines, then one that the read limit cuts in its middle.
    for (bool bUnicode : {false, true}) {
        SCOPED_TRACE(bUnicode ? "utf-16" : "8-bit");
        CTempDir base;
        std::wstring strText;
        size_t cLines = bUnicode ? 199 : 399;
        for (size_t i = 1; i <= cLines; ++i) {
            wchar_t szLine[16];
            swprintf(szLine, ARRAYSIZE(szLine), L"%04x=abcd\n", static_cast<unsigned>(i));
            strText += szLine;
        }
        strText += L"0fff=LongerName\n";
        for (int i = 0; i < 2000; ++i)
            strText += L"0ffe=Beyond\n";
        Put(base / L"Langver.map", bUnicode ? Utf16(strText) : std::string(strText.begin(), strText.end()));
        Renew();
        std::wstring strName;
        EXPECT_TRUE(m_spInfo->GetLanguageFolderName(0x0001, base.Path().c_str(), strName));
        EXPECT_TRUE(m_spInfo->GetLanguageFolderName(static_cast<WORD>(cLines), base.Path().c_str(), strName));
        EXPECT_FALSE(m_spInfo->GetLanguageFolderName(0x0fff, base.Path().c_str(), strName)) << strName;
        EXPECT_FALSE(m_spInfo->GetLanguageFolderName(0x0ffe, base.Path().c_str(), strName));
        EXPECT_EQ(cLines, Available(base.Path()).size());
    }
}

TEST_F(LanguageTest, CurrentUILanguageKeptOnceNonZero)
{
    m_system.wUser = 0x0409;
    Put(m_temp / L"07\\01\\SetupShell.loc");
    Put(m_temp / L"0c\\01\\SetupShell.loc");
    Put(m_temp / L"09\\01\\SetupShell.loc");
    // Not set: read again on the next lookup.
    EXPECT_EQ(0x0409, Locate());
    SetCurrentUILanguage(L"407");
    EXPECT_EQ(0x0407, Locate());
    // Once read, a change is not seen by this process.
    SetCurrentUILanguage(L"40c");
    EXPECT_EQ(0x0407, Locate());
    EXPECT_EQ(0x040C, m_spInfo->GetCurrentUILanguage());
}

TEST_F(LanguageTest, RegistryLanguageValues)
{
    struct Case
    {
        const char* pszName;
        DWORD dwType;
        std::string bytes;  // stored as they are
        WORD wExpected;
    } cases[] = {
        {"hex", REG_SZ, Utf16(std::wstring(L"407", 4), false), 0x0407},
        {"blank and prefix", REG_SZ, Utf16(std::wstring(L" 0x40C", 7), false), 0x040C},
        {"not a number", REG_SZ, Utf16(std::wstring(L"German", 7), false), 0},
        {"too large", REG_SZ, Utf16(std::wstring(L"10407", 6), false), 0},
        {"dword", REG_DWORD, std::string("\x07\x04\x00\x00", 4), 0},
        {"260 bytes", REG_SZ, Utf16(L"40c" + std::wstring(126, L' ') + std::wstring(1, L'\0'), false), 0x040C},
        {"262 bytes", REG_SZ, Utf16(L"40c" + std::wstring(127, L' ') + std::wstring(1, L'\0'), false), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        UserKey().SetRaw(L"Current UI Language", c.dwType, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        MachineKey().SetRaw(L"Default Language", c.dwType, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        EXPECT_EQ(c.wExpected, m_spInfo->GetCurrentUILanguage());
        EXPECT_EQ(c.wExpected, m_spInfo->GetDefaultLanguage());
    }
    UserKey().Delete(L"Current UI Language");
    MachineKey().Delete(L"Default Language");
    EXPECT_EQ(0, m_spInfo->GetCurrentUILanguage());
    EXPECT_EQ(0, m_spInfo->GetDefaultLanguage());
    // The values live below the silo's own root: another silo sees none of them.
    SetCurrentUILanguage(L"407");
    CIsolation other(kModuleWithoutIni);
    ASSERT_TRUE(other.SetSiloID(kqtest::NewGuidString().c_str()));
    CLanguageInfo otherInfo(other, m_system);
    EXPECT_EQ(0, otherInfo.GetCurrentUILanguage());
}

TEST_F(LanguageTest, RegistryKeysAbsent)
{
    EXPECT_EQ(0, m_spInfo->GetCurrentUILanguage());
    EXPECT_EQ(0, m_spInfo->GetDefaultLanguage());
}

TEST_F(LanguageTest, OnlyFilesMatch)
{
    m_system.wUser = 0x0409;
    // A folder of the file's name is no file.
    MakeFolder(m_temp / L"09\\01\\SetupShell.loc");
    EXPECT_EQ(0, Locate());
    // The name is returned as it is on disk.
    Put(m_temp / L"0c\\01\\SETUPSHELL.LOC");
    m_system.wSystem = 0x040C;
    std::wstring strPath;
    EXPECT_EQ(0x040C, Locate(&strPath));
    EXPECT_EQ(m_temp / L"0c\\01\\SETUPSHELL.LOC", strPath);
}

TEST_F(LanguageTest, AbsentArgumentsFail)
{
    std::wstring strPath = L"old";
    LANGID wLanguage = 0x409;
    EXPECT_FALSE(m_spInfo->LocateResourceModule(nullptr, kFile, strPath, wLanguage));
    EXPECT_TRUE(strPath.empty());
    EXPECT_EQ(0, wLanguage);
    strPath = L"old";
    wLanguage = 0x409;
    EXPECT_FALSE(m_spInfo->LocateResourceModule(m_temp.Path().c_str(), nullptr, strPath, wLanguage));
    EXPECT_TRUE(strPath.empty());
    EXPECT_EQ(0, wLanguage);
    std::vector<WORD> languages;
    EXPECT_FALSE(m_spInfo->GetAvailableLanguages(nullptr, languages));
    EXPECT_FALSE(m_spInfo->GetAvailableLanguages((m_temp / L"missing").c_str(), languages));
    EXPECT_FALSE(m_spInfo->HasLanguage(nullptr, 0x409));
}

TEST(PathMatch, PatternRules)
{
    CTempDir temp;
    Put(temp / L"file.txt");
    Put(temp / L"noext");
    MakeFolder(temp / L"folder");
    MakeFolder(temp / L"empty");
    struct Case
    {
        const wchar_t* pszRelative;
        bool bMatch;
        const wchar_t* pszFound;
    } cases[] = {
        {L"file.txt", true, L"file.txt"}, {L"file", true, L"file.txt"},     {L"noext", true, L"noext"},
        {L"folder", false, nullptr},      {L"missing.txt", false, nullptr}, {L"folder\\*.*", true, nullptr},
        {L"empty\\*.*", true, nullptr},   {L"missing\\*.*", false, nullptr},
    };
    for (const Case& c : cases) {
        std::wstring strFound;
        EXPECT_EQ(c.bMatch, PathMatchExists((temp / c.pszRelative).c_str(), &strFound)) << c.pszRelative;
        if (c.pszFound) {
            EXPECT_EQ(c.pszFound, strFound) << c.pszRelative;
        }
    }
    EXPECT_FALSE(PathMatchExists(nullptr));
}

TEST_F(LanguageTest, AvailableLanguagesFromFolders)
{
    Put(m_temp / L"09\\01\\f");
    Put(m_temp / L"07\\01\\f");
    MakeFolder(m_temp / L"07\\02");      // an empty language folder still counts
    Put(m_temp / L"9\\02\\f");           // primary 9 again, written with one digit
    MakeFolder(m_temp / L"0c\\ff");      // a sublanguage beyond six bits
    MakeFolder(m_temp / L"0c\\1g");      // not a number
    MakeFolder(m_temp / L"0c\\001");     // three characters
    MakeFolder(m_temp / L"bin");         // starts with hex digits only
    MakeFolder(m_temp / L"1234");        // four characters
    MakeFolder(m_temp / L"400");         // beyond ten bits
    MakeFolder(m_temp / L"00\\01");      // no primary language
    Put(m_temp / L"0a", "file, not a folder");
    EXPECT_EQ((std::vector<WORD>{0x0007, 0x0009, 0x0009, 0x000C, 0x0407, 0x0409, 0x0807, 0x0809}),
              Sorted(Available(m_temp.Path())));
}

TEST_F(LanguageTest, SingleDigitFolderCountsOnlyWithTwoDigitFolder)
{
    Put(m_temp / L"9\\01\\f");
    EXPECT_EQ((std::vector<WORD>{0x0409}), Available(m_temp.Path()));
    MakeFolder(m_temp / L"09");
    Renew();
    EXPECT_EQ((std::vector<WORD>{0x0009, 0x0009, 0x0409}), Sorted(Available(m_temp.Path())));
}

TEST_F(LanguageTest, BaseFolderOwnNameIsNoLanguage)
{
    std::wstring strBase = m_temp / L"09";
    Put(strBase + L"\\09\\01\\f");
    Put(strBase + L"\\07\\01\\f");
    EXPECT_EQ((std::vector<WORD>{0x0007, 0x0407}), Sorted(Available(strBase)));
}

TEST_F(LanguageTest, FolderMapReplacesFolders)
{
    Put(m_temp / L"09\\01\\f");
    Put(m_temp / L"Langver.map", Utf16(L"40C=French\n407=German\n"));
    EXPECT_EQ((std::vector<WORD>{0x040C, 0x0407}), Available(m_temp.Path()));
    // A map without a usable entry leaves the folders in charge.
    CTempDir other;
    Put(other / L"09\\01\\f");
    Put(other / L"Langver.map", "English\nxyz=1\n");
    EXPECT_EQ((std::vector<WORD>{0x0009, 0x0409}), Sorted(Available(other.Path())));
}

TEST_F(LanguageTest, HostileFilesAreSurvived)
{
    // Random content of every language file, in both encodings: no lookup may fail badly.
    std::mt19937 random(4711);
    m_system.wUser = 0x0409;
    for (int i = 0; i < 150; ++i) {
        CTempDir base;
        for (const wchar_t* pszName : {L"Langver.map", L"maplngid.dat", L"fallback.dat"}) {
            std::string bytes(random() % 1200, '\0');
            for (char& ch : bytes)
                ch = static_cast<char>("0123456789abcdefABCDEF =,\r\n\t.\\:x\xFF\xFE\0"[random() % 35]);
            if (random() % 2)
                bytes = "\xFF\xFE" + bytes;
            Put(base / pszName, bytes);
        }
        Put(base / L"09\\01\\SetupShell.loc");
        Renew();
        std::wstring strPath;
        LANGID wLanguage = 0;
        if (m_spInfo->LocateResourceModule(base.Path().c_str(), kFile, strPath, wLanguage)) {
            EXPECT_NE(0, wLanguage);
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strPath.c_str()));
            EXPECT_EQ(0u, strPath.find(base.Path()));
        }
        std::vector<WORD> languages;
        EXPECT_TRUE(m_spInfo->GetAvailableLanguages(base.Path().c_str(), languages));
        EXPECT_LE(languages.size(), 1000u);
    }
}

// ---------------------------------------------------------------------------------------------
// The process's own locator

TEST(LanguageCollection, HoldsLanguagesAsWords)
{
    CTempDir temp;
    Put(temp / L"Langver.map", "40c=French\n407=German\n409=English");
    CSmartPtr<IIndexValueCollection> spCollection;
    spCollection.Attach(CreateLanguageCollection(temp.Path().c_str()));
    ASSERT_TRUE(spCollection);
    ASSERT_EQ(3u, spCollection->GetCount());
    const WORD expected[] = {0x040C, 0x0407, 0x0409};
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(eValueType_Word, spCollection->GetType(i));
        WORD wValue = 0;
        EXPECT_TRUE(spCollection->GetWord(i, &wValue));
        EXPECT_EQ(expected[i], wValue);
    }
    // An empty base folder gives an empty collection; a missing one none.
    CTempDir empty;
    spCollection.Attach(CreateLanguageCollection(empty.Path().c_str()));
    ASSERT_TRUE(spCollection);
    EXPECT_EQ(0u, spCollection->GetCount());
    EXPECT_EQ(nullptr, CreateLanguageCollection((temp / L"missing").c_str()));
    EXPECT_EQ(nullptr, CreateLanguageCollection(nullptr));
}

TEST(ProcessLocator, FindsFileInUserLanguage)
{
    CTempDir temp;
    LANGID wUser = GetUserDefaultUILanguage();
    std::wstring strSub;
    ASSERT_TRUE(GetLanguageSubFolder(wUser, strSub));
    Put(temp / (strSub + L"\\SetupShell.loc"));
    std::wstring strPath;
    LANGID wLanguage = 0;
    ASSERT_TRUE(LocateResourceModule(temp.Path().c_str(), kFile, strPath, wLanguage));
    // The process silo may name a current UI language of its own; without one the user's wins.
    if (GetCurrentUILanguage() == 0) {
        EXPECT_EQ(wUser, wLanguage);
    }
    EXPECT_EQ(temp / (strSub + L"\\SetupShell.loc"), strPath);
}

}  // namespace
