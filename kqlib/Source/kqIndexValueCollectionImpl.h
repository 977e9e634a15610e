// The index-value collection: typed values by position 0 .. count - 1
// (class id = IIndexValueCollection::kIid).
#pragma once
#include <memory>
#include <vector>
#include "kqValueCollectionImpl.h"

class CIndexValueCollectionImpl : public CValueCollectionImpl<IIndexValueCollection>
{
public:
    static constexpr GUID kClassId = IIndexValueCollection::kIid;

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;

    bool AddObjectRef(IObjectBase* pObject) override;
    bool AddVariant(const VARIANT* pValue) override;
    bool AddBinary(const void* pData, DWORD dwSize) override;
    bool AddStringW(const wchar_t* pszText) override;
    bool AddStringA(const char* pszText) override;
    bool AddBlock16(const KQBLOCK16* pValue) override;
    bool AddGuid(const GUID* pValue) override;
    bool AddDouble(double dValue) override;
    bool AddUInt64(ULONGLONG ullValue) override;
    bool AddInt64(LONGLONG llValue) override;
    bool AddDWord(DWORD dwValue) override;
    bool AddLong(LONG lValue) override;
    bool AddWord(WORD wValue) override;
    bool AddShort(SHORT sValue) override;
    bool AddByte(BYTE bValue) override;
    bool AddChar(signed char chValue) override;
    bool AddBool(bool bValue) override;

protected:
    CValue* FindValue(DWORD dwKey) override;
    CValue* PrepareValue(DWORD dwKey) override;
    DWORD CountValues() override;
    bool RemoveValue(DWORD dwKey) override;
    void RemoveAllValues() override;
    bool SaveEntries(CArchive& archive) override;
    bool LoadEntries(CArchive& archive, DWORD dwCount) override;
    bool CopyEntries(IObjectBase* pSource) override;
    const GUID& ClassId() const override { return kClassId; }
    IObjectBase* CreateSame() const override;

private:
    // Appends a value of that type, filled by the filler, under the lock.
    template <class TFill>
    bool AddWith(BYTE bType, TFill fill);
    bool AddFixed(ValueType eType, const void* pValue);

    std::vector<std::unique_ptr<CValue>> m_vecValues;
};

// A new empty index-value collection with one reference, or nullptr when memory runs out.
IObjectBase* CreateIndexValueCollectionImpl();
