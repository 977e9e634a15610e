// The key-value collection: typed values under DWORD keys, kept in ascending key order
// (class id = IKeyValueCollection::kIid).
#pragma once
#include "kqSmartPtr.h"
#include <map>
#include <memory>
#include "kqValueCollectionImpl.h"

class CKeyValueCollectionImpl : public CValueCollectionImpl<IKeyValueCollection>
{
public:
    static constexpr GUID kClassId = IKeyValueCollection::kIid;

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    bool GetKeyByIndex(DWORD dwIndex, DWORD* pdwKey) override;

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
    std::map<DWORD, std::unique_ptr<CValue>> m_mapValues;
};

// A new empty key-value collection with one reference, or nullptr when memory runs out.
IObjectBase* CreateKeyValueCollectionImpl();
// The same, held by a smart pointer to its collection interface (empty when memory runs out).
CSmartPtr<IKeyValueCollection> NewKeyValueCollection();
