#include "kqQelKeyValueCollectionImpl.h"
#include <iterator>
#include <new>

IObjectBase* CreateKeyValueCollectionImpl()
{
    return static_cast<IKeyValueCollection*>(new (std::nothrow) CKeyValueCollectionImpl);
}

CSmartPtr<IKeyValueCollection> NewKeyValueCollection()
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateKeyValueCollectionImpl());
    CSmartPtr<IKeyValueCollection> spCollection;
    if (spObject)
        spCollection.QueryFrom(spObject.Get());
    return spCollection;
}

IObjectBase* CKeyValueCollectionImpl::CreateSame() const
{
    return CreateKeyValueCollectionImpl();
}

HRESULT CKeyValueCollectionImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IValueCollection::kIid || riid == IKeyValueCollection::kIid)
        return AnswerInterface(static_cast<IKeyValueCollection*>(this), ppObject);
    if (riid == ISerialize::kIid)
        return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
    if (riid == IClone::kIid)
        return AnswerInterface(static_cast<IClone*>(this), ppObject);
    return RefuseInterface(ppObject);
}

bool CKeyValueCollectionImpl::GetKeyByIndex(DWORD dwIndex, DWORD* pdwKey)
{
    if (!pdwKey)
        return false;
    CAutoLock lock(m_csLock);
    if (dwIndex >= m_mapValues.size())
        return false;
    *pdwKey = std::next(m_mapValues.begin(), dwIndex)->first;
    return true;
}

CValue* CKeyValueCollectionImpl::FindValue(DWORD dwKey)
{
    auto it = m_mapValues.find(dwKey);
    return it == m_mapValues.end() ? nullptr : it->second.get();
}

CValue* CKeyValueCollectionImpl::PrepareValue(DWORD dwKey)
{
    auto it = m_mapValues.find(dwKey);
    if (it != m_mapValues.end())
        return it->second.get();
    // The value first: a failed allocation must not leave an empty entry in the map.
    std::unique_ptr<CValue> spValue(new CValue);
    CValue* pValue = spValue.get();
    m_mapValues.emplace(dwKey, std::move(spValue));
    return pValue;
}

DWORD CKeyValueCollectionImpl::CountValues()
{
    return static_cast<DWORD>(m_mapValues.size());
}

bool CKeyValueCollectionImpl::RemoveValue(DWORD dwKey)
{
    return m_mapValues.erase(dwKey) != 0;
}

void CKeyValueCollectionImpl::RemoveAllValues()
{
    m_mapValues.clear();
}

bool CKeyValueCollectionImpl::SaveEntries(CArchive& archive)
{
    for (const auto& entry : m_mapValues)
    {
        if (!archive.WriteDWord(entry.first) || !entry.second->Save(archive))
            return false;
    }
    return true;
}

bool CKeyValueCollectionImpl::LoadEntries(CArchive& archive, DWORD dwCount)
{
    try
    {
        // Entries are read one by one: a count larger than the data fails at the first
        // missing entry, before anything is held for it.
        for (DWORD i = 0; i < dwCount; ++i)
        {
            DWORD dwKey = 0;
            std::unique_ptr<CValue> spValue(new CValue);
            if (!archive.ReadDWord(&dwKey) || !spValue->Load(archive))
                return false;
            // A key that repeats overwrites the earlier value.
            m_mapValues[dwKey] = std::move(spValue);
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CKeyValueCollectionImpl::CopyEntries(IObjectBase* pSource)
{
    CSmartPtr<IKeyValueCollection> spSource;
    if (FAILED(spSource.QueryFrom(pSource)))
        return false;
    DWORD dwCount = spSource->GetCount();
    for (DWORD i = 0; i < dwCount; ++i)
    {
        DWORD dwKey = 0;
        if (!spSource->GetKeyByIndex(i, &dwKey))
            return false;
        std::unique_ptr<CValue> spValue(new CValue);
        if (!CopyOneValue(spSource.Get(), dwKey, *spValue))
            return false;
        m_mapValues[dwKey] = std::move(spValue);
    }
    return true;
}
