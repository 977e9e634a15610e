// What both value collections share: the typed gets with their conversions, the sets, the
// flags, the dirty flag and the saved form. A derived class supplies how values are addressed
// (by key or by position). Every operation holds the collection's lock for its whole duration.
#pragma once
#include "kqArchive.h"
#include "kqCriticalSection.h"
#include "kqObjectRoot.h"
#include "kqSerializeImpl.h"
#include "kqValue.h"
#include "kqValueCollection.h"

template <class TInterface>
class CValueCollectionImpl : public CObjectRoot, public TInterface, public CSerializeImpl, public IClone
{
public:
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    DWORD GetCount() override;
    bool Exists(DWORD dwKey) override;
    DWORD GetSize(DWORD dwKey) override;
    BYTE GetType(DWORD dwKey) override;
    bool Remove(DWORD dwKey) override;
    bool RemoveAll() override;
    bool GetConvertOnGet() override;
    void SetConvertOnGet(bool bConvert) override;
    bool GetCloneObjects() override;
    void SetCloneObjects(bool bClone) override;

    bool GetObjectRef(DWORD dwKey, IObjectBase** ppObject) override;
    bool GetVariant(DWORD dwKey, VARIANT* pValue) override;
    bool GetBinaryEx(DWORD dwKey, void* pBuffer, DWORD cbBuffer, DWORD* pdwSize) override;
    bool GetBinary(DWORD dwKey, void* pBuffer, DWORD cbBuffer) override;
    bool GetStringWEx(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer, DWORD* pdwSize) override;
    bool GetStringW(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer) override;
    bool GetStringAEx(DWORD dwKey, char* pszBuffer, DWORD cbBuffer, DWORD* pdwSize) override;
    bool GetStringA(DWORD dwKey, char* pszBuffer, DWORD cbBuffer) override;
    bool GetBlock16(DWORD dwKey, KQBLOCK16* pValue) override;
    bool GetGuid(DWORD dwKey, GUID* pValue) override;
    bool GetDouble(DWORD dwKey, double* pValue) override;
    bool GetUInt64(DWORD dwKey, ULONGLONG* pValue) override;
    bool GetInt64(DWORD dwKey, LONGLONG* pValue) override;
    bool GetDWord(DWORD dwKey, DWORD* pValue) override;
    bool GetLong(DWORD dwKey, LONG* pValue) override;
    bool GetWord(DWORD dwKey, WORD* pValue) override;
    bool GetShort(DWORD dwKey, SHORT* pValue) override;
    bool GetByte(DWORD dwKey, BYTE* pValue) override;
    bool GetChar(DWORD dwKey, signed char* pValue) override;
    bool GetBool(DWORD dwKey, bool* pValue) override;

    bool SetObjectRef(DWORD dwKey, IObjectBase* pObject) override;
    bool SetVariant(DWORD dwKey, const VARIANT* pValue) override;
    bool SetBinary(DWORD dwKey, const void* pData, DWORD dwSize) override;
    bool SetStringW(DWORD dwKey, const wchar_t* pszText) override;
    bool SetStringA(DWORD dwKey, const char* pszText) override;
    bool SetBlock16(DWORD dwKey, const KQBLOCK16* pValue) override;
    bool SetGuid(DWORD dwKey, const GUID* pValue) override;
    bool SetDouble(DWORD dwKey, double dValue) override;
    bool SetUInt64(DWORD dwKey, ULONGLONG ullValue) override;
    bool SetInt64(DWORD dwKey, LONGLONG llValue) override;
    bool SetDWord(DWORD dwKey, DWORD dwValue) override;
    bool SetLong(DWORD dwKey, LONG lValue) override;
    bool SetWord(DWORD dwKey, WORD wValue) override;
    bool SetShort(DWORD dwKey, SHORT sValue) override;
    bool SetByte(DWORD dwKey, BYTE bValue) override;
    bool SetChar(DWORD dwKey, signed char chValue) override;
    bool SetBool(DWORD dwKey, bool bValue) override;

    ULONGLONG GetSizeMax() override;
    bool Save(IByteStream* pStream) override;
    bool Load(IByteStream* pStream) override;

    bool CopyFrom(IObjectBase* pSource) override;
    bool Clone(IObjectBase** ppObject) override;

    // The collection's saved form through an archive (header, count, entries).
    bool SaveTo(CArchive& archive);
    // Empties the collection first; any failure leaves it empty.
    bool LoadFrom(CArchive& archive);

protected:
    // Addressing, called under the lock.
    virtual CValue* FindValue(DWORD dwKey) = 0;
    // The value to be set: the existing one, or (for keys) a new one; nullptr when there is
    // none to set. May throw std::bad_alloc.
    virtual CValue* PrepareValue(DWORD dwKey) = 0;
    virtual DWORD CountValues() = 0;
    virtual bool RemoveValue(DWORD dwKey) = 0;
    virtual void RemoveAllValues() = 0;
    // Per entry: the DWORD key (or position) and the value.
    virtual bool SaveEntries(CArchive& archive) = 0;
    virtual bool LoadEntries(CArchive& archive, DWORD dwCount) = 0;
    // Copies the source's values; the source's interface is checked there.
    virtual bool CopyEntries(IObjectBase* pSource) = 0;
    // A new empty collection of the same class, one reference.
    virtual IObjectBase* CreateSame() const = 0;

    // Gives the value its new type and storage, under the lock; the filler stores the argument.
    template <class TFill>
    bool SetWith(DWORD dwKey, BYTE bType, TFill fill);
    // The stored value, or a converted copy in the scratch value; nullptr when neither.
    const CValue* ReadAs(DWORD dwKey, ValueType eType);
    bool GetFixed(DWORD dwKey, ValueType eType, void* pValue);
    bool SetFixed(DWORD dwKey, ValueType eType, const void* pValue);
    // Fills a value from the argument of a set (used by the add operations as well).
    static bool FillFixed(CValue& value, ValueType eType, const void* pValue);
    bool FillObject(CValue& value, IObjectBase* pObject);
    static bool FillVariant(CValue& value, const VARIANT* pValue);
    static bool FillBinary(CValue& value, const void* pData, DWORD dwSize);

    // Copies value dwSourceKey of a source collection into value, through the source's typed
    // gets; false for a type or size of 0.
    bool CopyOneValue(IValueCollection* pSource, DWORD dwSourceKey, CValue& value);

    bool m_bConvertOnGet = true;
    bool m_bCloneObjects = false;

private:
    CValue m_Scratch;
};

// Makes the library's persistable classes creatable by class id, so that saved Object values
// of those classes load.
void EnsurePersistableClasses();
