#include "bpSettingsJson.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "bpSettingNames.h"
#include "bpText.h"
#include "kqFile.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSmartPtr.h"
#include "kqStringConvert.h"
#include "kqValueAccess.h"

namespace {

// Nested collections deeper than this are refused (a file is input like any other).
const int kMaxNesting = 8;
// Settings files are small; anything larger is a mistake.
const ULONGLONG kMaxJsonFileSize = 16 * 1024 * 1024;

std::string TypeName(BYTE bType)
{
    const char* pszName = GetValueTypeName(bType);
    return pszName ? pszName : "type " + std::to_string(bType);
}

std::string Where(const std::string& strSource, DWORD dwKey)
{
    return strSource + ": " + DescribeKey(dwKey);
}

// The integer range of each integer type.
bool IntegerRange(BYTE bType, long long* pllMin, unsigned long long* pullMax)
{
    switch (bType) {
    case eValueType_Char: *pllMin = -128; *pullMax = 127; return true;
    case eValueType_Byte: *pllMin = 0; *pullMax = 0xFF; return true;
    case eValueType_Short: *pllMin = -32768; *pullMax = 32767; return true;
    case eValueType_Word: *pllMin = 0; *pullMax = 0xFFFF; return true;
    case eValueType_Long: *pllMin = -2147483647LL - 1; *pullMax = 2147483647; return true;
    case eValueType_DWord: *pllMin = 0; *pullMax = 0xFFFFFFFFull; return true;
    case eValueType_Int64:
        *pllMin = std::numeric_limits<long long>::min();
        *pullMax = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
        return true;
    case eValueType_UInt64: *pllMin = 0; *pullMax = std::numeric_limits<unsigned long long>::max(); return true;
    default: return false;
    }
}

// The JSON integer as a signed/unsigned pair checked against the range.
bool ReadInteger(const Json& value, long long llMin, unsigned long long ullMax, bool* pbNegative,
                 unsigned long long* pullMagnitude, long long* pllValue)
{
    if (!value.is_number_integer())
        return false;
    if (value.is_number_unsigned()) {
        const unsigned long long ull = value.get<unsigned long long>();
        if (ull > ullMax)
            return false;
        *pbNegative = false;
        *pullMagnitude = ull;
        *pllValue = static_cast<long long>(ull);
        return true;
    }
    const long long ll = value.get<long long>();
    if (ll < llMin || (ll >= 0 && static_cast<unsigned long long>(ll) > ullMax))
        return false;
    *pbNegative = ll < 0;
    *pullMagnitude = ll < 0 ? 0 : static_cast<unsigned long long>(ll);
    *pllValue = ll;
    return true;
}

std::string Expectation(BYTE bType)
{
    long long llMin = 0;
    unsigned long long ullMax = 0;
    if (IntegerRange(bType, &llMin, &ullMax))
        return "an integer from " + std::to_string(llMin) + " to " + std::to_string(ullMax);
    switch (bType) {
    case eValueType_Bool: return "true or false";
    case eValueType_Double: return "a number";
    case eValueType_Guid: return "a GUID text in braces, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    case eValueType_Block16: return "32 hex digits (16 bytes)";
    case eValueType_StringA:
    case eValueType_StringW: return "a text";
    case eValueType_Binary: return "hex digits, two per byte";
    case eValueType_Variant: return "an object {\"vt\": KIND, \"value\": VALUE}";
    case eValueType_Object: return "an object of settings";
    default: return "nothing (empty values cannot be written)";
    }
}

std::string JsonKind(const Json& value)
{
    if (value.is_null()) return "null";
    if (value.is_boolean()) return "a boolean";
    if (value.is_number_integer()) return "the integer " + value.dump();
    if (value.is_number()) return "the number " + value.dump();
    if (value.is_string()) return "a text";
    if (value.is_array()) return "an array";
    return "an object";
}

struct VariantKind
{
    const char* pszName;
    VARTYPE vt;
};
const VariantKind kVariantKinds[] = {
    {"empty", VT_EMPTY}, {"null", VT_NULL}, {"i1", VT_I1},  {"ui1", VT_UI1}, {"i2", VT_I2},
    {"ui2", VT_UI2},     {"i4", VT_I4},     {"ui4", VT_UI4}, {"int", VT_INT}, {"uint", VT_UINT},
    {"i8", VT_I8},       {"ui8", VT_UI8},   {"r4", VT_R4},  {"r8", VT_R8},   {"bool", VT_BOOL},
    {"bstr", VT_BSTR},
};

const VariantKind* FindVariantKind(const std::string& strName)
{
    for (const VariantKind& kind : kVariantKinds) {
        if (strName == kind.pszName)
            return &kind;
    }
    return nullptr;
}

const VariantKind* FindVariantKind(VARTYPE vt)
{
    for (const VariantKind& kind : kVariantKinds) {
        if (kind.vt == vt)
            return &kind;
    }
    return nullptr;
}

// Holds a VARIANT and clears it on every path.
class CVariantHolder
{
public:
    CVariantHolder() { VariantInit(&m_Value); }
    ~CVariantHolder() { VariantClear(&m_Value); }
    CVariantHolder(const CVariantHolder&) = delete;
    CVariantHolder& operator=(const CVariantHolder&) = delete;
    VARIANT* operator&() { return &m_Value; }
    VARIANT& Get() { return m_Value; }

private:
    VARIANT m_Value;
};

bool VariantFromJson(const Json& value, CVariantHolder& variant, std::string& strProblem)
{
    if (!value.is_object() || !value.contains("vt") || !value["vt"].is_string()) {
        strProblem = "expected {\"vt\": KIND, \"value\": VALUE}";
        return false;
    }
    const VariantKind* pKind = FindVariantKind(value["vt"].get<std::string>());
    if (!pKind) {
        strProblem = "unknown VARIANT kind \"" + value["vt"].get<std::string>() + "\"";
        return false;
    }
    VARIANT& v = variant.Get();
    if (pKind->vt == VT_EMPTY || pKind->vt == VT_NULL) {
        v.vt = pKind->vt;
        return true;
    }
    if (!value.contains("value")) {
        strProblem = "the VARIANT has no \"value\"";
        return false;
    }
    const Json& inner = value["value"];
    bool bNegative = false;
    unsigned long long ullMagnitude = 0;
    long long ll = 0;
    auto integer = [&](long long llMin, unsigned long long ullMax) {
        return ReadInteger(inner, llMin, ullMax, &bNegative, &ullMagnitude, &ll);
    };
    switch (pKind->vt) {
    case VT_I1: if (!integer(-128, 127)) break; v.vt = VT_I1; v.cVal = static_cast<CHAR>(ll); return true;
    case VT_UI1: if (!integer(0, 0xFF)) break; v.vt = VT_UI1; v.bVal = static_cast<BYTE>(ll); return true;
    case VT_I2: if (!integer(-32768, 32767)) break; v.vt = VT_I2; v.iVal = static_cast<SHORT>(ll); return true;
    case VT_UI2: if (!integer(0, 0xFFFF)) break; v.vt = VT_UI2; v.uiVal = static_cast<USHORT>(ll); return true;
    case VT_I4:
    case VT_INT:
        if (!integer(-2147483647LL - 1, 2147483647)) break;
        v.vt = pKind->vt; v.lVal = static_cast<LONG>(ll); return true;
    case VT_UI4:
    case VT_UINT:
        if (!integer(0, 0xFFFFFFFFull)) break;
        v.vt = pKind->vt; v.ulVal = static_cast<ULONG>(ll); return true;
    case VT_I8:
        if (!integer(std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max())) break;
        v.vt = VT_I8; v.llVal = ll; return true;
    case VT_UI8:
        if (!integer(0, std::numeric_limits<unsigned long long>::max())) break;
        v.vt = VT_UI8; v.ullVal = ullMagnitude; return true;
    case VT_R4:
        if (!inner.is_number()) break;
        v.vt = VT_R4; v.fltVal = inner.get<float>(); return true;
    case VT_R8:
        if (!inner.is_number()) break;
        v.vt = VT_R8; v.dblVal = inner.get<double>(); return true;
    case VT_BOOL:
        if (!inner.is_boolean()) break;
        v.vt = VT_BOOL; v.boolVal = inner.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE; return true;
    case VT_BSTR: {
        std::wstring strWide;
        if (!inner.is_string() || !Utf8ToWide(inner.get<std::string>(), strWide) || strWide.size() > 0x7FFFFFFF)
            break;
        v.bstrVal = SysAllocStringLen(strWide.data(), static_cast<UINT>(strWide.size()));
        if (!v.bstrVal) {
            strProblem = "out of memory";
            return false;
        }
        v.vt = VT_BSTR;
        return true;
    }
    default:
        break;
    }
    strProblem = std::string("the VARIANT value does not fit its kind \"") + pKind->pszName + "\"";
    return false;
}

bool VariantToJson(const VARIANT& v, Json& value, std::string& strProblem)
{
    const VariantKind* pKind = FindVariantKind(v.vt);
    if (!pKind) {
        strProblem = "a VARIANT of kind " + std::to_string(v.vt) + " cannot be shown";
        return false;
    }
    value = Json::object();
    value["vt"] = pKind->pszName;
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_I1: value["value"] = static_cast<int>(v.cVal); return true;
    case VT_UI1: value["value"] = v.bVal; return true;
    case VT_I2: value["value"] = v.iVal; return true;
    case VT_UI2: value["value"] = v.uiVal; return true;
    case VT_I4:
    case VT_INT: value["value"] = static_cast<long long>(v.lVal); return true;
    case VT_UI4:
    case VT_UINT: value["value"] = static_cast<unsigned long long>(v.ulVal); return true;
    case VT_I8: value["value"] = static_cast<long long>(v.llVal); return true;
    case VT_UI8: value["value"] = static_cast<unsigned long long>(v.ullVal); return true;
    case VT_R4: value["value"] = v.fltVal; return true;
    case VT_R8: value["value"] = v.dblVal; return true;
    case VT_BOOL: value["value"] = v.boolVal != VARIANT_FALSE; return true;
    case VT_BSTR: {
        const std::wstring strText(v.bstrVal ? v.bstrVal : L"", v.bstrVal ? SysStringLen(v.bstrVal) : 0);
        std::string strUtf8;
        if (!WideToUtf8(strText, strUtf8)) {
            strProblem = "the VARIANT text is not valid UTF-16";
            return false;
        }
        value["value"] = strUtf8;
        return true;
    }
    default:
        strProblem = "a VARIANT of kind " + std::to_string(v.vt) + " cannot be shown";
        return false;
    }
}

bool LoadSettingsAt(const Json& document, const std::string& strSource, IKeyValueCollection* pCollection,
                    int nDepth, std::string& strError);
bool SaveSettingsAt(IKeyValueCollection* pCollection, Json& document, int nDepth, std::string& strError);

bool SetValueAt(IKeyValueCollection* pCollection, DWORD dwKey, BYTE bType, const Json& value,
                const std::string& strSource, int nDepth, std::string& strError)
{
    const std::string strWhere = Where(strSource, dwKey);
    auto wrongType = [&]() {
        strError = strWhere + " must be a " + TypeName(bType) + ": expected " + Expectation(bType) + ", found " +
                   JsonKind(value);
        return false;
    };
    auto setFailed = [&]() {
        strError = strWhere + ": the collection refused the " + TypeName(bType) + " value";
        return false;
    };

    long long llMin = 0;
    unsigned long long ullMax = 0;
    if (IntegerRange(bType, &llMin, &ullMax)) {
        bool bNegative = false;
        unsigned long long ullMagnitude = 0;
        long long ll = 0;
        if (!ReadInteger(value, llMin, ullMax, &bNegative, &ullMagnitude, &ll))
            return wrongType();
        bool bSet = false;
        switch (bType) {
        case eValueType_Char: bSet = pCollection->SetChar(dwKey, static_cast<signed char>(ll)); break;
        case eValueType_Byte: bSet = pCollection->SetByte(dwKey, static_cast<BYTE>(ll)); break;
        case eValueType_Short: bSet = pCollection->SetShort(dwKey, static_cast<SHORT>(ll)); break;
        case eValueType_Word: bSet = pCollection->SetWord(dwKey, static_cast<WORD>(ll)); break;
        case eValueType_Long: bSet = pCollection->SetLong(dwKey, static_cast<LONG>(ll)); break;
        case eValueType_DWord: bSet = pCollection->SetDWord(dwKey, static_cast<DWORD>(ll)); break;
        case eValueType_Int64: bSet = pCollection->SetInt64(dwKey, ll); break;
        default: bSet = pCollection->SetUInt64(dwKey, ullMagnitude); break;
        }
        return bSet ? true : setFailed();
    }

    switch (bType) {
    case eValueType_Bool:
        if (!value.is_boolean())
            return wrongType();
        return pCollection->SetBool(dwKey, value.get<bool>()) ? true : setFailed();
    case eValueType_Double:
        if (!value.is_number())
            return wrongType();
        return pCollection->SetDouble(dwKey, value.get<double>()) ? true : setFailed();
    case eValueType_Guid: {
        GUID guid;
        if (!value.is_string() || !ParseGuid(value.get<std::string>(), &guid))
            return wrongType();
        return pCollection->SetGuid(dwKey, &guid) ? true : setFailed();
    }
    case eValueType_Block16:
    case eValueType_Binary: {
        std::vector<BYTE> bytes;
        if (!value.is_string() || !ParseHex(value.get<std::string>(), bytes))
            return wrongType();
        if (bType == eValueType_Block16) {
            if (bytes.size() != sizeof(KQBLOCK16))
                return wrongType();
            KQBLOCK16 block;
            memcpy(&block, bytes.data(), sizeof(block));
            return pCollection->SetBlock16(dwKey, &block) ? true : setFailed();
        }
        if (bytes.size() > 0x7FFFFFFF)
            return wrongType();
        return pCollection->SetBinary(dwKey, bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()))
                   ? true
                   : setFailed();
    }
    case eValueType_StringW:
    case eValueType_StringA: {
        if (!value.is_string())
            return wrongType();
        std::wstring strWide;
        if (!Utf8ToWide(value.get<std::string>(), strWide)) {
            strError = strWhere + ": the text is not valid UTF-8";
            return false;
        }
        if (strWide.find(L'\0') != std::wstring::npos) {
            strError = strWhere + ": the text holds a NUL character";
            return false;
        }
        if (bType == eValueType_StringW)
            return SetValueString(pCollection, dwKey, strWide) ? true : setFailed();
        // 8-bit text is kept in the system ANSI code page; refuse what it cannot hold.
        BOOL bLossy = FALSE;
        std::string strAnsi;
        const int cb = strWide.empty() ? 0
                                       : WideCharToMultiByte(CP_ACP, 0, strWide.data(), static_cast<int>(strWide.size()),
                                                             nullptr, 0, nullptr, &bLossy);
        if (!strWide.empty() && (cb <= 0 || bLossy)) {
            strError = strWhere + ": the text cannot be written in the system code page of a stringa value";
            return false;
        }
        strAnsi.resize(static_cast<size_t>(cb));
        if (cb > 0)
            WideCharToMultiByte(CP_ACP, 0, strWide.data(), static_cast<int>(strWide.size()), &strAnsi[0], cb, nullptr,
                                nullptr);
        return pCollection->SetStringA(dwKey, strAnsi.c_str()) ? true : setFailed();
    }
    case eValueType_Variant: {
        CVariantHolder variant;
        std::string strProblem;
        if (!VariantFromJson(value, variant, strProblem)) {
            strError = strWhere + ": " + strProblem;
            return false;
        }
        return pCollection->SetVariant(dwKey, &variant) ? true : setFailed();
    }
    case eValueType_Object: {
        if (!value.is_object())
            return wrongType();
        if (nDepth >= kMaxNesting) {
            strError = strWhere + ": settings nested deeper than " + std::to_string(kMaxNesting) + " levels";
            return false;
        }
        CSmartPtr<IKeyValueCollection> spNestedCollection = NewKeyValueCollection();
        if (!spNestedCollection) {
            strError = strWhere + ": out of memory";
            return false;
        }
        if (!LoadSettingsAt(value, strWhere, spNestedCollection.Get(), nDepth + 1, strError))
            return false;
        return pCollection->SetObjectRef(dwKey, spNestedCollection.Get()) ? true : setFailed();
    }
    default:
        return wrongType();
    }
}

bool GetValueAt(IKeyValueCollection* pCollection, DWORD dwKey, Json& value, int nDepth, std::string& strError)
{
    const BYTE bType = pCollection->GetType(dwKey);
    const std::string strWhere = DescribeKey(dwKey);
    auto readFailed = [&]() {
        strError = strWhere + ": its " + TypeName(bType) + " value cannot be read";
        return false;
    };
    switch (bType) {
    case eValueType_Empty: value = nullptr; return true;
    case eValueType_Bool: { bool b = false; if (!pCollection->GetBool(dwKey, &b)) return readFailed(); value = b; return true; }
    case eValueType_Char: { signed char c = 0; if (!pCollection->GetChar(dwKey, &c)) return readFailed(); value = static_cast<int>(c); return true; }
    case eValueType_Byte: { BYTE b = 0; if (!pCollection->GetByte(dwKey, &b)) return readFailed(); value = b; return true; }
    case eValueType_Short: { SHORT s = 0; if (!pCollection->GetShort(dwKey, &s)) return readFailed(); value = s; return true; }
    case eValueType_Word: { WORD w = 0; if (!pCollection->GetWord(dwKey, &w)) return readFailed(); value = w; return true; }
    case eValueType_Long: { LONG l = 0; if (!pCollection->GetLong(dwKey, &l)) return readFailed(); value = static_cast<long long>(l); return true; }
    case eValueType_DWord: { DWORD dw = 0; if (!pCollection->GetDWord(dwKey, &dw)) return readFailed(); value = static_cast<unsigned long long>(dw); return true; }
    case eValueType_Int64: { LONGLONG ll = 0; if (!pCollection->GetInt64(dwKey, &ll)) return readFailed(); value = static_cast<long long>(ll); return true; }
    case eValueType_UInt64: { ULONGLONG ull = 0; if (!pCollection->GetUInt64(dwKey, &ull)) return readFailed(); value = static_cast<unsigned long long>(ull); return true; }
    case eValueType_Double: { double d = 0; if (!pCollection->GetDouble(dwKey, &d)) return readFailed(); value = d; return true; }
    case eValueType_Guid: { GUID g; if (!pCollection->GetGuid(dwKey, &g)) return readFailed(); value = FormatGuidUtf8(g); return true; }
    case eValueType_Block16: {
        KQBLOCK16 block;
        if (!pCollection->GetBlock16(dwKey, &block))
            return readFailed();
        value = FormatHex(reinterpret_cast<const BYTE*>(&block), sizeof(block));
        return true;
    }
    case eValueType_StringA:
    case eValueType_StringW: {
        std::wstring strWide;
        if (bType == eValueType_StringW) {
            if (!GetValueString(pCollection, dwKey, strWide))
                return readFailed();
        } else {
            std::string strAnsi;
            if (!GetValueStringA(pCollection, dwKey, strAnsi))
                return readFailed();
            if (!ConvertToWide(strAnsi.data(), strAnsi.size(), strWide)) {
                strError = strWhere + ": the 8-bit text cannot be converted to UTF-16";
                return false;
            }
        }
        std::string strUtf8;
        if (!WideToUtf8(strWide, strUtf8)) {
            strError = strWhere + ": the text is not valid UTF-16";
            return false;
        }
        value = strUtf8;
        return true;
    }
    case eValueType_Binary: {
        CMemory memory;
        if (!GetValueBinary(pCollection, dwKey, memory))
            return readFailed();
        value = FormatHex(static_cast<const BYTE*>(memory.GetData()), memory.GetSize());
        return true;
    }
    case eValueType_Variant: {
        CVariantHolder variant;
        if (!pCollection->GetVariant(dwKey, &variant))
            return readFailed();
        std::string strProblem;
        if (!VariantToJson(variant.Get(), value, strProblem)) {
            strError = strWhere + ": " + strProblem;
            return false;
        }
        return true;
    }
    case eValueType_Object: {
        CSmartPtr<IObjectBase> spObject;
        if (!pCollection->GetObjectRef(dwKey, spObject.Receive()) || !spObject)
            return readFailed();
        CSmartPtr<IKeyValueCollection> spNested;
        if (FAILED(spObject->QueryInterface(IKeyValueCollection::kIid, spNested.ReceiveVoid())) || !spNested) {
            strError = strWhere + ": holds an object that is not a key-value collection";
            return false;
        }
        if (nDepth >= kMaxNesting) {
            strError = strWhere + ": settings nested deeper than " + std::to_string(kMaxNesting) + " levels";
            return false;
        }
        return SaveSettingsAt(spNested.Get(), value, nDepth + 1, strError);
    }
    default:
        strError = strWhere + ": unknown value type " + std::to_string(bType);
        return false;
    }
}

bool LoadSettingsAt(const Json& document, const std::string& strSource, IKeyValueCollection* pCollection,
                    int nDepth, std::string& strError)
{
    if (!document.is_object()) {
        strError = strSource + ": settings must be a JSON object of NAME: VALUE members";
        return false;
    }
    std::set<DWORD> keysSeen;
    for (auto it = document.begin(); it != document.end(); ++it) {
        const std::string& strName = it.key();
        const Json& member = it.value();
        DWORD dwKey = 0;
        if (!ResolveSettingKey(strName, &dwKey, strError)) {
            strError = strSource + ": " + strError;
            return false;
        }
        if (!keysSeen.insert(dwKey).second) {
            strError = Where(strSource, dwKey) + " is given twice";
            return false;
        }
        const SettingName* pName = FindSettingByKey(dwKey);
        // The explicit form: an object with exactly "type" and "value" (an object setting's
        // value is itself an object, so a plain object is only accepted as explicit form).
        const bool bExplicit = member.is_object() && member.contains("type");
        BYTE bType = 0;
        const Json* pValue = &member;
        if (bExplicit) {
            const Json& type = member["type"];
            if (!type.is_string() || !ParseValueTypeName(type.get<std::string>(), &bType)) {
                strError = Where(strSource, dwKey) + ": unknown type " + type.dump() + " (types: " +
                           ListValueTypeNames() + ")";
                return false;
            }
            if (!member.contains("value") || member.size() != 2) {
                strError = Where(strSource, dwKey) + ": the explicit form is {\"type\": TYPE, \"value\": VALUE}";
                return false;
            }
            if (pName && bType != pName->bType) {
                strError = Where(strSource, dwKey) + " must be a " + TypeName(pName->bType) + ", not a " +
                           TypeName(bType);
                return false;
            }
            pValue = &member["value"];
        } else if (pName) {
            bType = pName->bType;
        } else {
            strError = Where(strSource, dwKey) + " is not a named setting: give its type, as {\"type\": TYPE, "
                                                 "\"value\": VALUE} (types: " + ListValueTypeNames() + ")";
            return false;
        }
        if (!SetValueAt(pCollection, dwKey, bType, *pValue, strSource, nDepth, strError))
            return false;
    }
    return true;
}

bool SaveSettingsAt(IKeyValueCollection* pCollection, Json& document, int nDepth, std::string& strError)
{
    document = Json::object();
    const DWORD dwCount = pCollection->GetCount();
    for (DWORD i = 0; i < dwCount; ++i) {
        DWORD dwKey = 0;
        if (!pCollection->GetKeyByIndex(i, &dwKey)) {
            strError = "the settings cannot be listed";
            return false;
        }
        Json value;
        if (!GetValueAt(pCollection, dwKey, value, nDepth, strError))
            return false;
        const BYTE bType = pCollection->GetType(dwKey);
        const SettingName* pName = FindSettingByKey(dwKey);
        if (pName && pName->bType == bType) {
            document[pName->pszName] = std::move(value);
        } else {
            Json member = Json::object();
            member["type"] = TypeName(bType);
            member["value"] = std::move(value);
            document[std::to_string(dwKey)] = std::move(member);
        }
    }
    return true;
}

bool ParseUnsigned(const std::string& strText, unsigned long long* pullValue)
{
    if (strText.empty())
        return false;
    size_t pos = 0;
    unsigned base = 10;
    if (strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    unsigned long long ullValue = 0;
    for (; pos < strText.size(); ++pos) {
        const char ch = strText[pos];
        unsigned digit = 0;
        if (ch >= '0' && ch <= '9')
            digit = static_cast<unsigned>(ch - '0');
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            digit = static_cast<unsigned>(ch - 'a' + 10);
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            digit = static_cast<unsigned>(ch - 'A' + 10);
        else
            return false;
        if (ullValue > (std::numeric_limits<unsigned long long>::max() - digit) / base)
            return false;
        ullValue = ullValue * base + digit;
    }
    *pullValue = ullValue;
    return true;
}

}  // namespace

std::string DescribeKey(DWORD dwKey)
{
    const SettingName* pName = FindSettingByKey(dwKey);
    if (pName)
        return std::string("\"") + pName->pszName + "\" (key " + std::to_string(dwKey) + ")";
    return "key " + std::to_string(dwKey);
}

bool SetValueFromJson(IKeyValueCollection* pCollection, DWORD dwKey, BYTE bType, const Json& value,
                      const std::string& strSource, std::string& strError)
{
    try {
        return SetValueAt(pCollection, dwKey, bType, value, strSource, 0, strError);
    } catch (const std::exception&) {
        strError = Where(strSource, dwKey) + ": out of memory";
        return false;
    }
}

bool GetValueAsJson(IKeyValueCollection* pCollection, DWORD dwKey, Json& value, std::string& strError)
{
    try {
        return GetValueAt(pCollection, dwKey, value, 0, strError);
    } catch (const std::exception&) {
        strError = DescribeKey(dwKey) + ": out of memory";
        return false;
    }
}

bool LoadSettingsJson(const Json& document, const std::string& strSource, IKeyValueCollection* pCollection,
                      std::string& strError)
{
    try {
        return LoadSettingsAt(document, strSource, pCollection, 0, strError);
    } catch (const std::exception&) {
        strError = strSource + ": out of memory";
        return false;
    }
}

bool SaveSettingsJson(IKeyValueCollection* pCollection, Json& document, std::string& strError)
{
    try {
        return SaveSettingsAt(pCollection, document, 0, strError);
    } catch (const std::exception&) {
        strError = "out of memory";
        return false;
    }
}

bool CheckRequiredSettings(IKeyValueCollection* pCollection, const std::string& strSource, std::string& strError)
{
    size_t cNames = 0;
    const SettingName* pNames = GetSettingNames(&cNames);
    for (size_t i = 0; i < cNames; ++i) {
        if (!pNames[i].bRequired)
            continue;
        if (!pCollection->Exists(pNames[i].dwKey)) {
            strError = strSource + ": required setting " + DescribeKey(pNames[i].dwKey) + " is missing";
            return false;
        }
        if (pCollection->GetType(pNames[i].dwKey) != pNames[i].bType) {
            strError = strSource + ": required setting " + DescribeKey(pNames[i].dwKey) + " must be a " +
                       TypeName(pNames[i].bType);
            return false;
        }
    }
    return true;
}

bool ParseJsonText(const std::string& strText, const std::string& strSource, Json& document, std::string& strError)
{
    size_t skip = 0;
    if (strText.size() >= 3 && memcmp(strText.data(), "\xEF\xBB\xBF", 3) == 0)
        skip = 3;
    try {
        document = Json::parse(strText.begin() + static_cast<std::ptrdiff_t>(skip), strText.end());
        return true;
    } catch (const Json::parse_error& e) {
        strError = strSource + ": not valid JSON: " + e.what();
    } catch (const std::exception&) {
        strError = strSource + ": out of memory";
    }
    return false;
}

bool ReadJsonFile(const std::wstring& strPath, Json& document, std::string& strError)
{
    const std::string strSource = ToUtf8(strPath);
    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0)) {
        strError = strSource + ": cannot open the file (error " + std::to_string(file.GetLastError()) + ")";
        return false;
    }
    ULONGLONG ullSize = 0;
    if (!file.GetSize(&ullSize) || ullSize > kMaxJsonFileSize) {
        strError = strSource + ": cannot read the file, or it is larger than 16 MB";
        return false;
    }
    std::string strText;
    try {
        strText.resize(static_cast<size_t>(ullSize));
    } catch (const std::bad_alloc&) {
        strError = strSource + ": out of memory";
        return false;
    }
    if (ullSize && !file.Read(&strText[0], static_cast<DWORD>(ullSize))) {
        strError = strSource + ": cannot read the file (error " + std::to_string(file.GetLastError()) + ")";
        return false;
    }
    return ParseJsonText(strText, strSource, document, strError);
}

bool WriteJsonFile(const std::wstring& strPath, const Json& document, std::string& strError)
{
    std::string strText;
    try {
        strText = document.dump(2) + "\n";
    } catch (const std::exception&) {
        strError = ToUtf8(strPath) + ": the settings cannot be written as JSON";
        return false;
    }
    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0) ||
        !file.Write(strText.data(), static_cast<DWORD>(strText.size())) || !file.Flush()) {
        strError = ToUtf8(strPath) + ": cannot write the file (error " + std::to_string(file.GetLastError()) + ")";
        return false;
    }
    return true;
}

bool ValueFromCommandLine(BYTE bType, const std::string& strText, Json& value, std::string& strError)
{
    long long llMin = 0;
    unsigned long long ullMax = 0;
    if (IntegerRange(bType, &llMin, &ullMax)) {
        const bool bNegative = !strText.empty() && strText[0] == '-';
        unsigned long long ullMagnitude = 0;
        if (!ParseUnsigned(bNegative ? strText.substr(1) : strText, &ullMagnitude)) {
            strError = "\"" + strText + "\" is not an integer";
            return false;
        }
        if (bNegative) {
            if (ullMagnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1) {
                strError = "\"" + strText + "\" is out of range";
                return false;
            }
            value = ullMagnitude == 0 ? 0LL : static_cast<long long>(0 - ullMagnitude);
        } else {
            value = ullMagnitude;
        }
        return true;
    }
    switch (bType) {
    case eValueType_Bool:
        if (strText == "true" || strText == "1") {
            value = true;
            return true;
        }
        if (strText == "false" || strText == "0") {
            value = false;
            return true;
        }
        strError = "\"" + strText + "\" is not true, false, 1 or 0";
        return false;
    case eValueType_Double:
    case eValueType_Variant:
    case eValueType_Object:
        return ParseJsonText(strText, "the command line", value, strError);
    default:
        // Text types, GUIDs and hex digits are checked when the value is set.
        value = strText;
        return true;
    }
}

bool ResolveSettingKey(const std::string& strText, DWORD* pdwKey, std::string& strError)
{
    if (ParseKeyNumber(strText, pdwKey))
        return true;
    const SettingName* pName = FindSettingByName(strText);
    if (!pName) {
        strError = "unknown setting name \"" + strText + "\" (use a name from the settings table or a key number)";
        return false;
    }
    *pdwKey = pName->dwKey;
    return true;
}
