// The settings file layer: names, types, JSON forms of every value type and its messages.
#include <gtest/gtest.h>

#include <set>

#include "bpSettingNames.h"
#include "bpSettingsJson.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSmartPtr.h"

namespace {

Json Parse(const char* pszText)
{
    Json doc;
    std::string strError;
    EXPECT_TRUE(ParseJsonText(pszText, "test", doc, strError)) << strError;
    return doc;
}

// Loads the text, expecting failure; the message.
std::string LoadError(const char* pszText)
{
    auto spCollection = NewKeyValueCollection();
    std::string strError;
    EXPECT_FALSE(LoadSettingsJson(Parse(pszText), "settings.json", spCollection.Get(), strError)) << pszText;
    return strError;
}

}  // namespace

TEST(SettingNames, KeysAndNamesAreUniqueAndRequiredAreTheThree)
{
    size_t cNames = 0;
    const SettingName* pNames = GetSettingNames(&cNames);
    std::set<std::string> names;
    std::set<DWORD> required;
    for (size_t i = 0; i < cNames; ++i) {
        EXPECT_TRUE(names.insert(pNames[i].pszName).second) << pNames[i].pszName;
        if (i > 0) {
            EXPECT_LT(pNames[i - 1].dwKey, pNames[i].dwKey);
        }
        if (pNames[i].bRequired)
            required.insert(pNames[i].dwKey);
    }
    EXPECT_EQ((std::set<DWORD>{0, 9, 18}), required);
    const struct { const char* pszName; DWORD dwKey; BYTE bType; } fixed[] = {
        {"ProductId", 0, eValueType_StringW}, {"VersionMajor", 1, eValueType_DWord},
        {"VersionRevision", 4, eValueType_DWord}, {"DefaultLanguage", 5, eValueType_StringW},
        {"IsolationId", 9, eValueType_StringW}, {"BuildId", 14, eValueType_StringW},
        {"IsolationRegistryHive", 18, eValueType_StringW}, {"TwoPhase", 100, eValueType_Bool},
        {"AllowCopyBaseCache", 20513, eValueType_Bool},
    };
    for (const auto& item : fixed) {
        const SettingName* pName = FindSettingByName(item.pszName);
        ASSERT_NE(nullptr, pName) << item.pszName;
        EXPECT_EQ(item.dwKey, pName->dwKey);
        EXPECT_EQ(item.bType, pName->bType);
    }
}

TEST(SettingNames, TypeNamesParseBack)
{
    for (BYTE b = 0; b <= kValueTypeLast; ++b) {
        BYTE bParsed = 0xFF;
        ASSERT_TRUE(ParseValueTypeName(GetValueTypeName(b), &bParsed));
        EXPECT_EQ(b, bParsed);
    }
    BYTE bType = 0;
    EXPECT_TRUE(ParseValueTypeName("DWORD", &bType));
    EXPECT_EQ(eValueType_DWord, bType);
    EXPECT_FALSE(ParseValueTypeName("int", &bType));
    DWORD dwKey = 0;
    EXPECT_FALSE(ParseKeyNumber("4294967296", &dwKey));
    EXPECT_FALSE(ParseKeyNumber("-1", &dwKey));
    EXPECT_TRUE(ParseKeyNumber("4294967295", &dwKey));
    EXPECT_EQ(0xFFFFFFFFu, dwKey);
}

// Every value type that can be written comes back from export unchanged.
TEST(SettingsJson, EveryTypeRoundTrips)
{
    const char* pszText = R"({
        "ProductId": "Vantry \u00e9t\u00e9",
        "VersionMajor": 4294967295,
        "IsolationId": "{01234567-89AB-CDEF-0123-456789ABCDEF}",
        "IsAddOn": true,
        "IsolationRegistryHive": "Software\\Ostrel\\Silo",
        "NoReboot": false,
        "1000": {"type": "char", "value": -128},
        "1001": {"type": "byte", "value": 255},
        "1002": {"type": "short", "value": -32768},
        "1003": {"type": "word", "value": 65535},
        "1004": {"type": "long", "value": -2147483648},
        "1005": {"type": "dword", "value": 7},
        "1006": {"type": "int64", "value": -9223372036854775808},
        "1007": {"type": "uint64", "value": 18446744073709551615},
        "1008": {"type": "double", "value": 2.5},
        "1009": {"type": "guid", "value": "{A0B1C2D3-E4F5-0617-2839-4A5B6C7D8E9F}"},
        "1010": {"type": "block16", "value": "000102030405060708090a0b0c0d0e0f"},
        "1011": {"type": "stringa", "value": "ansi text"},
        "1012": {"type": "string", "value": ""},
        "1013": {"type": "binary", "value": "00ff10"},
        "1014": {"type": "variant", "value": {"vt": "i4", "value": -5}},
        "1015": {"type": "variant", "value": {"vt": "bstr", "value": "in a variant"}},
        "1016": {"type": "object", "value": {"ProductId": "nested", "9999": {"type": "bool", "value": true}}},
        "1017": {"type": "bool", "value": true}
    })";
    const Json input = Parse(pszText);
    auto spCollection = NewKeyValueCollection();
    std::string strError;
    ASSERT_TRUE(LoadSettingsJson(input, "settings.json", spCollection.Get(), strError)) << strError;
    EXPECT_TRUE(CheckRequiredSettings(spCollection.Get(), "settings.json", strError)) << strError;
    EXPECT_EQ(eValueType_StringW, spCollection->GetType(0));
    EXPECT_EQ(eValueType_DWord, spCollection->GetType(1));
    EXPECT_EQ(eValueType_Object, spCollection->GetType(1016));

    Json output;
    ASSERT_TRUE(SaveSettingsJson(spCollection.Get(), output, strError)) << strError;
    // Keys ascending; named keys by name; the same values.
    auto spAgain = NewKeyValueCollection();
    ASSERT_TRUE(LoadSettingsJson(output, "export", spAgain.Get(), strError)) << strError << output.dump();
    Json again;
    ASSERT_TRUE(SaveSettingsJson(spAgain.Get(), again, strError));
    EXPECT_EQ(output, again);
    for (auto it = input.begin(); it != input.end(); ++it) {
        ASSERT_TRUE(output.contains(it.key())) << it.key();
        EXPECT_EQ(it.value(), output[it.key()]) << it.key();
    }
    EXPECT_EQ("ProductId", output.begin().key());
}

TEST(SettingsJson, ErrorsNameTheFileAndTheSetting)
{
    const struct { const char* pszText; const char* pszExpected; } cases[] = {
        {R"({"ProductIdent": "x"})", "settings.json: unknown setting name \"ProductIdent\""},
        {R"({"VersionMajor": "6"})", "settings.json: \"VersionMajor\" (key 1) must be a dword"},
        {R"({"VersionMajor": -1})", "\"VersionMajor\" (key 1) must be a dword: expected an integer from 0 to 4294967295"},
        {R"({"VersionMajor": 4294967296})", "must be a dword"},
        {R"({"IsAddOn": 1})", "settings.json: \"IsAddOn\" (key 11) must be a bool: expected true or false, found the integer 1"},
        {R"({"ProductId": 5})", "\"ProductId\" (key 0) must be a string"},
        {R"({"ProductId": {"type": "dword", "value": 5}})", "\"ProductId\" (key 0) must be a string, not a dword"},
        {R"({"1234": 5})", "settings.json: key 1234 is not a named setting: give its type"},
        {R"({"1234": {"type": "integer", "value": 5}})", "key 1234: unknown type \"integer\""},
        {R"({"1234": {"type": "byte", "value": 256}})", "key 1234 must be a byte"},
        {R"({"1234": {"type": "guid", "value": "{nope}"}})", "key 1234 must be a guid"},
        {R"({"1234": {"type": "block16", "value": "00"}})", "key 1234 must be a block16"},
        {R"({"1234": {"type": "binary", "value": "0g"}})", "key 1234 must be a binary"},
        {R"({"1234": {"type": "empty", "value": null}})", "key 1234 must be a empty"},
        {R"({"1234": {"type": "variant", "value": {"vt": "dispatch"}}})", "unknown VARIANT kind"},
        {R"({"ProductId": "a", "0": {"type": "string", "value": "b"}})", "\"ProductId\" (key 0) is given twice"},
        {R"([1, 2])", "settings.json: settings must be a JSON object"},
    };
    for (const auto& item : cases) {
        const std::string strError = LoadError(item.pszText);
        EXPECT_NE(std::string::npos, strError.find(item.pszExpected)) << item.pszText << "\n  gave: " << strError;
    }
}

TEST(SettingsJson, EachRequiredKeyIsChecked)
{
    const struct { const char* pszText; const char* pszMissing; } cases[] = {
        {R"({"IsolationId": "{x}", "IsolationRegistryHive": "h"})", "required setting \"ProductId\" (key 0) is missing"},
        {R"({"ProductId": "p", "IsolationRegistryHive": "h"})", "required setting \"IsolationId\" (key 9) is missing"},
        {R"({"ProductId": "p", "IsolationId": "{x}"})", "required setting \"IsolationRegistryHive\" (key 18) is missing"},
    };
    for (const auto& item : cases) {
        auto spCollection = NewKeyValueCollection();
        std::string strError;
        ASSERT_TRUE(LoadSettingsJson(Parse(item.pszText), "s.json", spCollection.Get(), strError)) << strError;
        EXPECT_FALSE(CheckRequiredSettings(spCollection.Get(), "s.json", strError));
        EXPECT_EQ(std::string("s.json: ") + item.pszMissing, strError);
    }
}

TEST(SettingsJson, BrokenJsonIsReportedWithTheSource)
{
    Json doc;
    std::string strError;
    EXPECT_FALSE(ParseJsonText("{\"ProductId\": ", "settings.json", doc, strError));
    EXPECT_EQ(0u, strError.find("settings.json: not valid JSON"));
    EXPECT_TRUE(ParseJsonText("\xEF\xBB\xBF{}", "bom.json", doc, strError)) << strError;
}

TEST(SettingsJson, CommandLineValues)
{
    const struct { BYTE bType; const char* pszText; const char* pszJson; } good[] = {
        {eValueType_Bool, "true", "true"}, {eValueType_Bool, "0", "false"},
        {eValueType_DWord, "0x10", "16"}, {eValueType_Long, "-12", "-12"},
        {eValueType_StringW, "some text", "\"some text\""}, {eValueType_Double, "1.5", "1.5"},
        {eValueType_Variant, "{\"vt\":\"ui4\",\"value\":3}", "{\"vt\":\"ui4\",\"value\":3}"},
    };
    for (const auto& item : good) {
        Json value;
        std::string strError;
        ASSERT_TRUE(ValueFromCommandLine(item.bType, item.pszText, value, strError)) << item.pszText << strError;
        EXPECT_EQ(item.pszJson, value.dump());
    }
    const struct { BYTE bType; const char* pszText; } bad[] = {
        {eValueType_Bool, "yes"}, {eValueType_DWord, "12a"}, {eValueType_DWord, ""}, {eValueType_Object, "{"},
        {eValueType_UInt64, "0x10000000000000000"},
    };
    for (const auto& item : bad) {
        Json value;
        std::string strError;
        EXPECT_FALSE(ValueFromCommandLine(item.bType, item.pszText, value, strError)) << item.pszText;
    }
    // Range is checked when the value is set.
    auto spCollection = NewKeyValueCollection();
    Json value;
    std::string strError;
    ASSERT_TRUE(ValueFromCommandLine(eValueType_Word, "70000", value, strError));
    EXPECT_FALSE(SetValueFromJson(spCollection.Get(), 5000, eValueType_Word, value, "command line", strError));
    EXPECT_EQ(0u, strError.find("command line: key 5000 must be a word"));
}
