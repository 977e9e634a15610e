#include "kqMemoryImpl.h"
#include <cstring>
#include <new>
#include "kqDummyArchive.h"
#include "kqPersist.h"
#include "kqSmartPtr.h"
#include "kqStreamArchive.h"

namespace {
constexpr LONG kVersion = 1;
}

IObjectBase* CreateMemoryImpl()
{
    return static_cast<IMemory*>(new (std::nothrow) CMemoryImpl);
}

HRESULT CMemoryImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IMemory::kIid)
        return AnswerInterface(static_cast<IMemory*>(this), ppObject);
    if (riid == ISerialize::kIid)
        return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
    if (riid == IClone::kIid)
        return AnswerInterface(static_cast<IClone*>(this), ppObject);
    return RefuseInterface(ppObject);
}

void* CMemoryImpl::Allocate(DWORD dwSize)
{
    CAutoLock lock(m_csLock);
    m_bDirty = true;
    return m_Memory.Allocate(dwSize);
}

void* CMemoryImpl::Resize(DWORD dwSize)
{
    CAutoLock lock(m_csLock);
    void* pData = m_Memory.Resize(dwSize);
    if (pData)
        m_bDirty = true;
    return pData;
}

void CMemoryImpl::Free()
{
    CAutoLock lock(m_csLock);
    m_Memory.Free();
    m_bDirty = true;
}

DWORD CMemoryImpl::GetSize()
{
    CAutoLock lock(m_csLock);
    return m_Memory.GetSize();
}

void* CMemoryImpl::GetData()
{
    CAutoLock lock(m_csLock);
    return m_Memory.GetData();
}

void* CMemoryImpl::SetData(const void* pData, DWORD dwSize)
{
    CAutoLock lock(m_csLock);
    // The source may be this object's own block: copy before freeing.
    CMemory copy;
    if (!copy.SetData(eAllocKind_RuntimeHeap, pData, dwSize))
        return nullptr;
    m_Memory.Free();
    m_Memory.TakeOver(copy);
    m_bDirty = true;
    return m_Memory.GetData();
}

bool CMemoryImpl::SaveTo(CArchive& archive)
{
    return CPersist::Write(kVersion, archive) && CPersist::Write(m_Memory, archive);
}

ULONGLONG CMemoryImpl::GetSizeMax()
{
    CAutoLock lock(m_csLock);
    CDummyArchive counter;
    return SaveTo(counter) ? counter.GetTotal() : 0;
}

bool CMemoryImpl::Save(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Store);
    if (!archive.IsAttached() || !SaveTo(archive))
        return false;
    m_bDirty = false;
    return true;
}

bool CMemoryImpl::Load(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Load);
    LONG lVersion = 0;
    CMemory loaded;
    if (!archive.IsAttached() || !CPersist::Read(lVersion, archive) || lVersion != kVersion ||
        !CPersist::Read(loaded, archive))
        return false;
    m_Memory.Free();
    m_Memory.TakeOver(loaded);
    m_bDirty = false;
    return true;
}

bool CMemoryImpl::CopyFrom(IObjectBase* pSource)
{
    CSmartPtr<IMemory> spSource;
    if (FAILED(spSource.QueryFrom(pSource)))
        return false;
    if (spSource.Get() == static_cast<IMemory*>(this))
        return true;
    CAutoLock lock(m_csLock);
    DWORD dwSize = spSource->GetSize();
    const void* pData = spSource->GetData();
    CMemory copy;
    if (dwSize && pData && !copy.SetData(eAllocKind_RuntimeHeap, pData, dwSize))
        return false;
    m_Memory.Free();
    m_Memory.TakeOver(copy);
    m_bDirty = true;
    return true;
}

bool CMemoryImpl::Clone(IObjectBase** ppObject)
{
    if (!ppObject)
        return false;
    *ppObject = nullptr;
    CSmartPtr<IObjectBase> spClone;
    spClone.Attach(CreateMemoryImpl());
    CSmartPtr<IClone> spTarget;
    if (!spClone || FAILED(spTarget.QueryFrom(spClone.Get())) || !spTarget->CopyFrom(static_cast<IMemory*>(this)))
        return false;
    *ppObject = spClone.Detach();
    return true;
}
