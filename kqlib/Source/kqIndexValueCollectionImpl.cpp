#include "kqIndexValueCollectionImpl.h"
#include <new>

namespace {
// The smallest saved entry: a DWORD item (5 bytes) and a BYTE type item (2 bytes).
constexpr DWORD kMinEntrySize = 7;
}

IObjectBase* CreateIndexValueCollectionImpl()
{
    return static_cast<IIndexValueCollection*>(new (std::nothrow) CIndexValueCollectionImpl);
}

IObjectBase* CIndexValueCollectionImpl::CreateSame() const
{
    return CreateIndexValueCollectionImpl();
}

HRESULT CIndexValueCollectionImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IValueCollection::kIid || riid == IIndexValueCollection::kIid)
        return AnswerInterface(static_cast<IIndexValueCollection*>(this), ppObject);
    if (riid == ISerialize::kIid)
        return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
    if (riid == IClone::kIid)
        return AnswerInterface(static_cast<IClone*>(this), ppObject);
    return RefuseInterface(ppObject);
}

CValue* CIndexValueCollectionImpl::FindValue(DWORD dwKey)
{
    return dwKey < m_vecValues.size() ? m_vecValues[dwKey].get() : nullptr;
}

CValue* CIndexValueCollectionImpl::PrepareValue(DWORD dwKey)
{
    // A set only replaces; it never adds a position.
    return FindValue(dwKey);
}

DWORD CIndexValueCollectionImpl::CountValues()
{
    return static_cast<DWORD>(m_vecValues.size());
}

bool CIndexValueCollectionImpl::RemoveValue(DWORD dwKey)
{
    if (dwKey >= m_vecValues.size())
        return false;
    m_vecValues.erase(m_vecValues.begin() + dwKey);
    return true;
}

void CIndexValueCollectionImpl::RemoveAllValues()
{
    m_vecValues.clear();
}

bool CIndexValueCollectionImpl::SaveEntries(CArchive& archive)
{
    for (size_t i = 0; i < m_vecValues.size(); ++i)
    {
        if (!archive.WriteDWord(static_cast<DWORD>(i)) || !m_vecValues[i]->Save(archive))
            return false;
    }
    return true;
}

bool CIndexValueCollectionImpl::LoadEntries(CArchive& archive, DWORD dwCount)
{
    // The sequence is made as long as the count says, so the count must fit the data first.
    if (dwCount > archive.GetAvailable() / kMinEntrySize)
        return false;
    try
    {
        // A value is made when its entry is read, so that a count alone cannot make the load
        // allocate far more than the data holds; positions no entry named stay empty values.
        m_vecValues.resize(dwCount);
        for (DWORD i = 0; i < dwCount; ++i)
        {
            DWORD dwPosition = 0;
            if (!archive.ReadDWord(&dwPosition) || dwPosition >= dwCount)
                return false;
            std::unique_ptr<CValue>& spValue = m_vecValues[dwPosition];
            if (!spValue)
                spValue.reset(new CValue);
            if (!spValue->Load(archive))
                return false;
        }
        for (std::unique_ptr<CValue>& spValue : m_vecValues)
        {
            if (!spValue)
                spValue.reset(new CValue);
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CIndexValueCollectionImpl::CopyEntries(IObjectBase* pSource)
{
    CSmartPtr<IIndexValueCollection> spSource;
    if (FAILED(spSource.QueryFrom(pSource)))
        return false;
    DWORD dwCount = spSource->GetCount();
    m_vecValues.reserve(dwCount);
    for (DWORD i = 0; i < dwCount; ++i)
    {
        std::unique_ptr<CValue> spValue(new CValue);
        if (!CopyOneValue(spSource.Get(), i, *spValue))
            return false;
        m_vecValues.push_back(std::move(spValue));
    }
    return true;
}

template <class TFill>
bool CIndexValueCollectionImpl::AddWith(BYTE bType, TFill fill)
{
    CAutoLock lock(m_csLock);
    try
    {
        std::unique_ptr<CValue> spValue(new CValue);
        if (!spValue->Reset(bType) || !fill(*spValue))
            return false;
        m_vecValues.push_back(std::move(spValue));
        m_bDirty = true;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CIndexValueCollectionImpl::AddFixed(ValueType eType, const void* pValue)
{
    return AddWith(eType, [&](CValue& value) { return FillFixed(value, eType, pValue); });
}

bool CIndexValueCollectionImpl::AddObjectRef(IObjectBase* pObject)
{
    if (!pObject)
        return false;
    return AddWith(eValueType_Object, [&](CValue& value) { return FillObject(value, pObject); });
}

bool CIndexValueCollectionImpl::AddVariant(const VARIANT* pValue)
{
    return AddWith(eValueType_Variant, [&](CValue& value) { return FillVariant(value, pValue); });
}

bool CIndexValueCollectionImpl::AddBinary(const void* pData, DWORD dwSize)
{
    if (!pData && dwSize)
        return false;
    return AddWith(eValueType_Binary, [&](CValue& value) { return FillBinary(value, pData, dwSize); });
}

bool CIndexValueCollectionImpl::AddStringW(const wchar_t* pszText)
{
    if (!pszText)
        return false;
    return AddWith(eValueType_StringW, [&](CValue& value) {
        value.Wide() = pszText;
        return true;
    });
}

bool CIndexValueCollectionImpl::AddStringA(const char* pszText)
{
    if (!pszText)
        return false;
    return AddWith(eValueType_StringA, [&](CValue& value) {
        value.Ansi() = pszText;
        return true;
    });
}

bool CIndexValueCollectionImpl::AddBlock16(const KQBLOCK16* pValue) { return AddFixed(eValueType_Block16, pValue); }
bool CIndexValueCollectionImpl::AddGuid(const GUID* pValue) { return AddFixed(eValueType_Guid, pValue); }
bool CIndexValueCollectionImpl::AddDouble(double dValue) { return AddFixed(eValueType_Double, &dValue); }
bool CIndexValueCollectionImpl::AddUInt64(ULONGLONG ullValue) { return AddFixed(eValueType_UInt64, &ullValue); }
bool CIndexValueCollectionImpl::AddInt64(LONGLONG llValue) { return AddFixed(eValueType_Int64, &llValue); }
bool CIndexValueCollectionImpl::AddDWord(DWORD dwValue) { return AddFixed(eValueType_DWord, &dwValue); }
bool CIndexValueCollectionImpl::AddLong(LONG lValue) { return AddFixed(eValueType_Long, &lValue); }
bool CIndexValueCollectionImpl::AddWord(WORD wValue) { return AddFixed(eValueType_Word, &wValue); }
bool CIndexValueCollectionImpl::AddShort(SHORT sValue) { return AddFixed(eValueType_Short, &sValue); }
bool CIndexValueCollectionImpl::AddByte(BYTE bValue) { return AddFixed(eValueType_Byte, &bValue); }
bool CIndexValueCollectionImpl::AddChar(signed char chValue) { return AddFixed(eValueType_Char, &chValue); }
bool CIndexValueCollectionImpl::AddBool(bool bValue) { return AddFixed(eValueType_Bool, &bValue); }
