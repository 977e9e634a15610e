#include "kqValueCollectionImpl.h"
#include <cstring>
#include <new>
#include <string>
#include "kqDummyArchive.h"
#include "kqIndexValueCollectionImpl.h"
#include "kqMemoryImpl.h"
#include "kqObjectCreate.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqStreamArchive.h"
#include "kqStringImpl.h"

namespace {
constexpr LONG kCollectionVersion = 1;
constexpr LONG kMapVersion = 1;
}  // namespace

void EnsurePersistableClasses()
{
    EnsureClassAvailable(CIndexValueCollectionImpl::kClassId, CreateIndexValueCollectionImpl);
    EnsureClassAvailable(CKeyValueCollectionImpl::kClassId, CreateKeyValueCollectionImpl);
    EnsureClassAvailable(CStringImpl::kClassId, CreateStringImpl);
    EnsureClassAvailable(CMemoryImpl::kClassId, CreateMemoryImpl);
}

// ---- shape ----

template <class T>
DWORD CValueCollectionImpl<T>::GetCount()
{
    CAutoLock lock(m_csLock);
    return CountValues();
}

template <class T>
bool CValueCollectionImpl<T>::Exists(DWORD dwKey)
{
    CAutoLock lock(m_csLock);
    return FindValue(dwKey) != nullptr;
}

template <class T>
DWORD CValueCollectionImpl<T>::GetSize(DWORD dwKey)
{
    CAutoLock lock(m_csLock);
    const CValue* pValue = FindValue(dwKey);
    return pValue ? pValue->GetSize() : 0;
}

template <class T>
BYTE CValueCollectionImpl<T>::GetType(DWORD dwKey)
{
    CAutoLock lock(m_csLock);
    const CValue* pValue = FindValue(dwKey);
    return pValue ? static_cast<BYTE>(pValue->GetType()) : static_cast<BYTE>(eValueType_Empty);
}

template <class T>
bool CValueCollectionImpl<T>::Remove(DWORD dwKey)
{
    CAutoLock lock(m_csLock);
    if (!RemoveValue(dwKey))
        return false;
    m_bDirty = true;
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::RemoveAll()
{
    CAutoLock lock(m_csLock);
    RemoveAllValues();
    m_bDirty = true;
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetConvertOnGet()
{
    CAutoLock lock(m_csLock);
    return m_bConvertOnGet;
}

template <class T>
void CValueCollectionImpl<T>::SetConvertOnGet(bool bConvert)
{
    CAutoLock lock(m_csLock);
    m_bConvertOnGet = bConvert;
}

template <class T>
bool CValueCollectionImpl<T>::GetCloneObjects()
{
    CAutoLock lock(m_csLock);
    return m_bCloneObjects;
}

template <class T>
void CValueCollectionImpl<T>::SetCloneObjects(bool bClone)
{
    CAutoLock lock(m_csLock);
    m_bCloneObjects = bClone;
}

// ---- gets ----

template <class T>
const CValue* CValueCollectionImpl<T>::ReadAs(DWORD dwKey, ValueType eType)
{
    const CValue* pValue = FindValue(dwKey);
    if (!pValue)
        return nullptr;
    if (pValue->GetType() == eType)
        return pValue;
    if (!m_bConvertOnGet)
        return nullptr;
    // The stored value never changes: the conversion works on the scratch copy.
    if (!m_Scratch.CopyFrom(*pValue, false) || !m_Scratch.ConvertTo(eType))
    {
        m_Scratch.Reset(eValueType_Empty);
        return nullptr;
    }
    return &m_Scratch;
}

template <class T>
bool CValueCollectionImpl<T>::GetFixed(DWORD dwKey, ValueType eType, void* pValue)
{
    if (!pValue)
        return false;
    CAutoLock lock(m_csLock);
    const CValue* pStored = ReadAs(dwKey, eType);
    if (!pStored)
        return false;
    memcpy(pValue, pStored->Fixed(), CValue::FixedSize(eType));
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetObjectRef(DWORD dwKey, IObjectBase** ppObject)
{
    if (!ppObject)
        return false;
    *ppObject = nullptr;
    CAutoLock lock(m_csLock);
    CValue* pValue = FindValue(dwKey);
    if (!pValue || pValue->GetType() != eValueType_Object || !pValue->Object())
        return false;
    if (!m_bCloneObjects)
        return SUCCEEDED(pValue->Object().CopyTo(ppObject));
    CSmartPtr<IObjectBase> spClone;
    if (!CloneObject(pValue->Object().Get(), spClone))
        return false;
    *ppObject = spClone.Detach();
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetVariant(DWORD dwKey, VARIANT* pValue)
{
    if (!pValue)
        return false;
    VariantClear(pValue);
    CAutoLock lock(m_csLock);
    CValue* pStored = FindValue(dwKey);
    if (!pStored || pStored->GetType() != eValueType_Variant)
        return false;
    return SUCCEEDED(VariantCopyInd(pValue, &pStored->Variant()));
}

template <class T>
bool CValueCollectionImpl<T>::GetBinaryEx(DWORD dwKey, void* pBuffer, DWORD cbBuffer, DWORD* pdwSize)
{
    if (!pBuffer || cbBuffer == 0)
        return false;
    CAutoLock lock(m_csLock);
    CValue* pStored = FindValue(dwKey);
    if (!pStored || pStored->GetType() != eValueType_Binary)
        return false;
    DWORD dwSize = pStored->Memory().GetSize();
    if (pdwSize)
        *pdwSize = dwSize;
    if (dwSize > cbBuffer)
        return false;
    if (dwSize)
        memcpy(pBuffer, pStored->Memory().GetData(), dwSize);
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetBinary(DWORD dwKey, void* pBuffer, DWORD cbBuffer)
{
    return GetBinaryEx(dwKey, pBuffer, cbBuffer, nullptr);
}

template <class T>
bool CValueCollectionImpl<T>::GetStringWEx(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer, DWORD* pdwSize)
{
    CAutoLock lock(m_csLock);
    const CValue* pStored = ReadAs(dwKey, eValueType_StringW);
    if (!pStored)
        return false;
    const std::wstring& strText = const_cast<CValue*>(pStored)->Wide();
    ULONGLONG ullBytes = (static_cast<ULONGLONG>(strText.size()) + 1) * sizeof(wchar_t);
    if (ullBytes > 0xFFFFFFFF)
        return false;
    if (pdwSize)
        *pdwSize = static_cast<DWORD>(ullBytes);
    if (!pszBuffer || ullBytes > cbBuffer)
        return false;
    memcpy(pszBuffer, strText.c_str(), static_cast<size_t>(ullBytes));
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetStringW(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer)
{
    return GetStringWEx(dwKey, pszBuffer, cbBuffer, nullptr);
}

template <class T>
bool CValueCollectionImpl<T>::GetStringAEx(DWORD dwKey, char* pszBuffer, DWORD cbBuffer, DWORD* pdwSize)
{
    CAutoLock lock(m_csLock);
    const CValue* pStored = ReadAs(dwKey, eValueType_StringA);
    if (!pStored)
        return false;
    const std::string& strText = const_cast<CValue*>(pStored)->Ansi();
    ULONGLONG ullBytes = static_cast<ULONGLONG>(strText.size()) + 1;
    if (ullBytes > 0xFFFFFFFF)
        return false;
    if (pdwSize)
        *pdwSize = static_cast<DWORD>(ullBytes);
    if (!pszBuffer || ullBytes > cbBuffer)
        return false;
    memcpy(pszBuffer, strText.c_str(), static_cast<size_t>(ullBytes));
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::GetStringA(DWORD dwKey, char* pszBuffer, DWORD cbBuffer)
{
    return GetStringAEx(dwKey, pszBuffer, cbBuffer, nullptr);
}

template <class T>
bool CValueCollectionImpl<T>::GetBlock16(DWORD dwKey, KQBLOCK16* pValue)
{
    return GetFixed(dwKey, eValueType_Block16, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetGuid(DWORD dwKey, GUID* pValue)
{
    return GetFixed(dwKey, eValueType_Guid, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetDouble(DWORD dwKey, double* pValue)
{
    return GetFixed(dwKey, eValueType_Double, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetUInt64(DWORD dwKey, ULONGLONG* pValue)
{
    return GetFixed(dwKey, eValueType_UInt64, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetInt64(DWORD dwKey, LONGLONG* pValue)
{
    return GetFixed(dwKey, eValueType_Int64, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetDWord(DWORD dwKey, DWORD* pValue)
{
    return GetFixed(dwKey, eValueType_DWord, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetLong(DWORD dwKey, LONG* pValue)
{
    return GetFixed(dwKey, eValueType_Long, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetWord(DWORD dwKey, WORD* pValue)
{
    return GetFixed(dwKey, eValueType_Word, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetShort(DWORD dwKey, SHORT* pValue)
{
    return GetFixed(dwKey, eValueType_Short, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetByte(DWORD dwKey, BYTE* pValue)
{
    return GetFixed(dwKey, eValueType_Byte, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetChar(DWORD dwKey, signed char* pValue)
{
    return GetFixed(dwKey, eValueType_Char, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::GetBool(DWORD dwKey, bool* pValue)
{
    return GetFixed(dwKey, eValueType_Bool, pValue);
}

// ---- sets ----

template <class T>
template <class TFill>
bool CValueCollectionImpl<T>::SetWith(DWORD dwKey, BYTE bType, TFill fill)
{
    CAutoLock lock(m_csLock);
    try
    {
        // The new storage is built aside, so that a failure leaves the old value in place.
        CValue fresh;
        if (!fresh.Reset(bType) || !fill(fresh))
            return false;
        CValue* pValue = PrepareValue(dwKey);
        if (!pValue)
            return false;
        pValue->Swap(fresh);
        m_bDirty = true;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

template <class T>
bool CValueCollectionImpl<T>::FillFixed(CValue& value, ValueType eType, const void* pValue)
{
    if (!pValue)
        return false;
    memcpy(value.Fixed(), pValue, CValue::FixedSize(eType));
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::FillObject(CValue& value, IObjectBase* pObject)
{
    if (!pObject)
        return false;
    if (m_bCloneObjects)
        return CloneObject(pObject, value.Object());
    return SUCCEEDED(value.Object().QueryFrom(pObject));
}

template <class T>
bool CValueCollectionImpl<T>::FillVariant(CValue& value, const VARIANT* pValue)
{
    return pValue && SUCCEEDED(VariantCopyInd(&value.Variant(), const_cast<VARIANT*>(pValue)));
}

template <class T>
bool CValueCollectionImpl<T>::FillBinary(CValue& value, const void* pData, DWORD dwSize)
{
    if (dwSize == 0)
        return true;
    return pData && value.Memory().SetData(eAllocKind_RuntimeHeap, pData, dwSize);
}

template <class T>
bool CValueCollectionImpl<T>::SetFixed(DWORD dwKey, ValueType eType, const void* pValue)
{
    return SetWith(dwKey, eType, [&](CValue& value) { return FillFixed(value, eType, pValue); });
}

template <class T>
bool CValueCollectionImpl<T>::SetObjectRef(DWORD dwKey, IObjectBase* pObject)
{
    if (!pObject)
        return false;
    // Cloning happens under the lock, because CloneObjects is read there.
    return SetWith(dwKey, eValueType_Object, [&](CValue& value) { return FillObject(value, pObject); });
}

template <class T>
bool CValueCollectionImpl<T>::SetVariant(DWORD dwKey, const VARIANT* pValue)
{
    return SetWith(dwKey, eValueType_Variant, [&](CValue& value) { return FillVariant(value, pValue); });
}

template <class T>
bool CValueCollectionImpl<T>::SetBinary(DWORD dwKey, const void* pData, DWORD dwSize)
{
    if (!pData && dwSize)
        return false;
    return SetWith(dwKey, eValueType_Binary, [&](CValue& value) { return FillBinary(value, pData, dwSize); });
}

template <class T>
bool CValueCollectionImpl<T>::SetStringW(DWORD dwKey, const wchar_t* pszText)
{
    if (!pszText)
        return false;
    return SetWith(dwKey, eValueType_StringW, [&](CValue& value) {
        value.Wide() = pszText;
        return true;
    });
}

template <class T>
bool CValueCollectionImpl<T>::SetStringA(DWORD dwKey, const char* pszText)
{
    if (!pszText)
        return false;
    return SetWith(dwKey, eValueType_StringA, [&](CValue& value) {
        value.Ansi() = pszText;
        return true;
    });
}

template <class T>
bool CValueCollectionImpl<T>::SetBlock16(DWORD dwKey, const KQBLOCK16* pValue)
{
    return SetFixed(dwKey, eValueType_Block16, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetGuid(DWORD dwKey, const GUID* pValue)
{
    return SetFixed(dwKey, eValueType_Guid, pValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetDouble(DWORD dwKey, double dValue)
{
    return SetFixed(dwKey, eValueType_Double, &dValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetUInt64(DWORD dwKey, ULONGLONG ullValue)
{
    return SetFixed(dwKey, eValueType_UInt64, &ullValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetInt64(DWORD dwKey, LONGLONG llValue)
{
    return SetFixed(dwKey, eValueType_Int64, &llValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetDWord(DWORD dwKey, DWORD dwValue)
{
    return SetFixed(dwKey, eValueType_DWord, &dwValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetLong(DWORD dwKey, LONG lValue)
{
    return SetFixed(dwKey, eValueType_Long, &lValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetWord(DWORD dwKey, WORD wValue)
{
    return SetFixed(dwKey, eValueType_Word, &wValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetShort(DWORD dwKey, SHORT sValue)
{
    return SetFixed(dwKey, eValueType_Short, &sValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetByte(DWORD dwKey, BYTE bValue)
{
    return SetFixed(dwKey, eValueType_Byte, &bValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetChar(DWORD dwKey, signed char chValue)
{
    return SetFixed(dwKey, eValueType_Char, &chValue);
}
template <class T>
bool CValueCollectionImpl<T>::SetBool(DWORD dwKey, bool bValue)
{
    return SetFixed(dwKey, eValueType_Bool, &bValue);
}

// ---- serialization ----

template <class T>
bool CValueCollectionImpl<T>::SaveTo(CArchive& archive)
{
    CAutoLock lock(m_csLock);
    return archive.WriteLong(kCollectionVersion) && archive.WriteBool(m_bConvertOnGet) &&
           archive.WriteBool(m_bCloneObjects) && archive.WriteLong(kMapVersion) &&
           archive.WriteDWord(CountValues()) && SaveEntries(archive);
}

template <class T>
bool CValueCollectionImpl<T>::LoadFrom(CArchive& archive)
{
    CAutoLock lock(m_csLock);
    RemoveAllValues();
    EnsurePersistableClasses();
    LONG lVersion = 0, lMapVersion = 0;
    bool bConvert = true, bClone = false;
    DWORD dwCount = 0;
    bool bOk = archive.ReadLong(&lVersion) && lVersion == kCollectionVersion && archive.ReadBool(&bConvert) &&
               archive.ReadBool(&bClone);
    if (bOk)
    {
        // The flags are taken over as soon as the header is read.
        m_bConvertOnGet = bConvert;
        m_bCloneObjects = bClone;
        bOk = archive.ReadLong(&lMapVersion) && lMapVersion == kMapVersion && archive.ReadDWord(&dwCount) &&
              LoadEntries(archive, dwCount);
    }
    if (!bOk)
        RemoveAllValues();
    return bOk;
}

template <class T>
ULONGLONG CValueCollectionImpl<T>::GetSizeMax()
{
    CDummyArchive counter;
    return SaveTo(counter) ? counter.GetTotal() : 0;
}

template <class T>
bool CValueCollectionImpl<T>::Save(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Store);
    if (!archive.IsAttached() || !SaveTo(archive))
        return false;
    m_bDirty = false;
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::Load(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Load);
    if (!archive.IsAttached())
    {
        RemoveAllValues();
        return false;
    }
    if (!LoadFrom(archive))
        return false;
    m_bDirty = false;
    return true;
}

// ---- copies ----

template <class T>
bool CValueCollectionImpl<T>::CopyOneValue(IValueCollection* pSource, DWORD dwSourceKey, CValue& value)
{
    BYTE bType = pSource->GetType(dwSourceKey);
    DWORD dwSize = pSource->GetSize(dwSourceKey);
    if (bType == eValueType_Empty || dwSize == 0 || !value.Reset(bType))
        return false;
    switch (bType)
    {
    case eValueType_StringA:
    {
        std::string strText(dwSize, '\0');
        if (!pSource->GetStringA(dwSourceKey, &strText[0], dwSize))
            return false;
        strText.resize(strlen(strText.c_str()));
        value.Ansi().swap(strText);
        return true;
    }
    case eValueType_StringW:
    {
        std::wstring strText((dwSize + 1) / sizeof(wchar_t), L'\0');
        if (!pSource->GetStringW(dwSourceKey, &strText[0], static_cast<DWORD>(strText.size() * sizeof(wchar_t))))
            return false;
        strText.resize(wcslen(strText.c_str()));
        value.Wide().swap(strText);
        return true;
    }
    case eValueType_Binary:
        return value.Memory().Allocate(dwSize) && pSource->GetBinary(dwSourceKey, value.Memory().GetData(), dwSize);
    case eValueType_Variant:
        return pSource->GetVariant(dwSourceKey, &value.Variant());
    case eValueType_Object:
    {
        CSmartPtr<IObjectBase> spObject;
        if (!pSource->GetObjectRef(dwSourceKey, spObject.Receive()) || !spObject)
            return false;
        // A source that clones objects has handed out a copy of its own already: cloning it
        // again would double the work at every level of nesting.
        if (m_bCloneObjects && pSource->GetCloneObjects())
            return SUCCEEDED(value.Object().QueryFrom(spObject.Get()));
        return FillObject(value, spObject.Get());
    }
    case eValueType_Bool:
        return pSource->GetBool(dwSourceKey, static_cast<bool*>(value.Fixed()));
    case eValueType_Char:
        return pSource->GetChar(dwSourceKey, static_cast<signed char*>(value.Fixed()));
    case eValueType_Byte:
        return pSource->GetByte(dwSourceKey, static_cast<BYTE*>(value.Fixed()));
    case eValueType_Short:
        return pSource->GetShort(dwSourceKey, static_cast<SHORT*>(value.Fixed()));
    case eValueType_Word:
        return pSource->GetWord(dwSourceKey, static_cast<WORD*>(value.Fixed()));
    case eValueType_Long:
        return pSource->GetLong(dwSourceKey, static_cast<LONG*>(value.Fixed()));
    case eValueType_DWord:
        return pSource->GetDWord(dwSourceKey, static_cast<DWORD*>(value.Fixed()));
    case eValueType_Int64:
        return pSource->GetInt64(dwSourceKey, static_cast<LONGLONG*>(value.Fixed()));
    case eValueType_UInt64:
        return pSource->GetUInt64(dwSourceKey, static_cast<ULONGLONG*>(value.Fixed()));
    case eValueType_Double:
        return pSource->GetDouble(dwSourceKey, static_cast<double*>(value.Fixed()));
    case eValueType_Guid:
        return pSource->GetGuid(dwSourceKey, static_cast<GUID*>(value.Fixed()));
    case eValueType_Block16:
        return pSource->GetBlock16(dwSourceKey, static_cast<KQBLOCK16*>(value.Fixed()));
    default:
        return false;
    }
}

template <class T>
bool CValueCollectionImpl<T>::CopyFrom(IObjectBase* pSource)
{
    // Copying from itself would empty the collection before reading it.
    CSmartPtr<IObjectBase> spIdentity;
    if (pSource && SUCCEEDED(spIdentity.QueryFrom(pSource)) &&
        spIdentity.Get() == static_cast<IObjectBase*>(static_cast<T*>(this)))
        return true;
    CAutoLock lock(m_csLock);
    RemoveAllValues();
    bool bOk = false;
    try
    {
        bOk = CopyEntries(pSource);
    }
    catch (const std::bad_alloc&)
    {
        bOk = false;
    }
    if (!bOk)
    {
        RemoveAllValues();
        return false;
    }
    m_bDirty = true;
    return true;
}

template <class T>
bool CValueCollectionImpl<T>::Clone(IObjectBase** ppObject)
{
    if (!ppObject)
        return false;
    *ppObject = nullptr;
    CAutoLock lock(m_csLock);
    CSmartPtr<IObjectBase> spClone;
    spClone.Attach(CreateSame());
    CSmartPtr<T> spCollection;
    CSmartPtr<IClone> spTarget;
    if (!spClone || FAILED(spCollection.QueryFrom(spClone.Get())) || FAILED(spTarget.QueryFrom(spClone.Get())))
        return false;
    // Flags first: CloneObjects decides how the target takes Object values.
    spCollection->SetConvertOnGet(m_bConvertOnGet);
    spCollection->SetCloneObjects(m_bCloneObjects);
    if (!spTarget->CopyFrom(static_cast<T*>(this)))
        return false;
    *ppObject = spClone.Detach();
    return true;
}

template class CValueCollectionImpl<IKeyValueCollection>;
template class CValueCollectionImpl<IIndexValueCollection>;
