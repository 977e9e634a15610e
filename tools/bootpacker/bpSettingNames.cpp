#include "bpSettingNames.h"

#include <cctype>
#include <cstring>

#include "kqValueCollection.h"

namespace {

// Keys the install manager reads, those it passes on that the shipped package carries, and
// the ones it writes into copies of itself. Changing a name breaks existing settings files.
const SettingName kSettingNames[] = {
    {0, "ProductId", eValueType_StringW, true},
    {1, "VersionMajor", eValueType_DWord, false},
    {2, "VersionMinor", eValueType_DWord, false},
    {3, "VersionBuild", eValueType_DWord, false},
    {4, "VersionRevision", eValueType_DWord, false},
    {5, "DefaultLanguage", eValueType_StringW, false},
    {7, "ProductName", eValueType_StringW, false},
    {8, "Manufacturer", eValueType_StringW, false},
    {9, "IsolationId", eValueType_StringW, true},
    {11, "IsAddOn", eValueType_Bool, false},
    {14, "BuildId", eValueType_StringW, false},
    {18, "IsolationRegistryHive", eValueType_StringW, true},
    {19, "CompareInstalledLanguages", eValueType_Bool, false},
    {20, "FamilyFolder", eValueType_StringW, false},
    {52, "RemoveLanguages", eValueType_StringW, false},
    {53, "ShowErrors", eValueType_Bool, false},
    {57, "NoRebootTray", eValueType_Bool, false},
    {76, "AddOnReset76", eValueType_Bool, false},
    {78, "AddOnReset78", eValueType_Bool, false},
    {79, "AddOnReset79", eValueType_Bool, false},
    {100, "TwoPhase", eValueType_Bool, false},
    {103, "HideConfigurationUI", eValueType_Bool, false},
    {116, "StoreEngineResult", eValueType_Bool, false},
    {126, "NoReboot", eValueType_Bool, false},
    {20001, "FirstCommandLine", eValueType_StringW, false},
    {20002, "CurrentCommandLine", eValueType_StringW, false},
    {20500, "IsRemovalProcess", eValueType_Bool, false},
    {20501, "RemovalFolder", eValueType_StringW, false},
    {20502, "ManifestFolder", eValueType_StringW, false},
    {20513, "AllowCopyBaseCache", eValueType_Bool, false},
};

// Indexed by ValueType.
const char* const kTypeNames[] = {
    "empty", "bool", "char", "byte", "short", "word", "long", "dword", "int64",
    "uint64", "double", "guid", "block16", "stringa", "string", "binary", "variant", "object",
};
static_assert(sizeof(kTypeNames) / sizeof(kTypeNames[0]) == kValueTypeLast + 1, "one name per value type");

bool EqualNoCase(const std::string& a, const char* b)
{
    const size_t cch = strlen(b);
    if (a.size() != cch)
        return false;
    for (size_t i = 0; i < cch; ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

const SettingName* GetSettingNames(size_t* pcNames)
{
    *pcNames = sizeof(kSettingNames) / sizeof(kSettingNames[0]);
    return kSettingNames;
}

const SettingName* FindSettingByName(const std::string& strName)
{
    for (const SettingName& name : kSettingNames) {
        if (strName == name.pszName)
            return &name;
    }
    return nullptr;
}

const SettingName* FindSettingByKey(DWORD dwKey)
{
    for (const SettingName& name : kSettingNames) {
        if (name.dwKey == dwKey)
            return &name;
    }
    return nullptr;
}

const char* GetValueTypeName(BYTE bType)
{
    return bType <= kValueTypeLast ? kTypeNames[bType] : nullptr;
}

bool ParseValueTypeName(const std::string& strName, BYTE* pbType)
{
    for (BYTE b = 0; b <= kValueTypeLast; ++b) {
        if (EqualNoCase(strName, kTypeNames[b])) {
            *pbType = b;
            return true;
        }
    }
    // The wide string is the usual text type; its archive name is accepted too.
    if (EqualNoCase(strName, "stringw")) {
        *pbType = eValueType_StringW;
        return true;
    }
    return false;
}

std::string ListValueTypeNames()
{
    std::string strList;
    for (const char* pszName : kTypeNames) {
        if (!strList.empty())
            strList += ", ";
        strList += pszName;
    }
    return strList;
}

bool ParseKeyNumber(const std::string& strText, DWORD* pdwKey)
{
    if (strText.empty() || strText.size() > 10)
        return false;
    unsigned long long ullValue = 0;
    for (char ch : strText) {
        if (ch < '0' || ch > '9')
            return false;
        ullValue = ullValue * 10 + static_cast<unsigned>(ch - '0');
    }
    if (ullValue > 0xFFFFFFFFull)
        return false;
    *pdwKey = static_cast<DWORD>(ullValue);
    return true;
}
