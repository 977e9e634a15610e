#include "kqDigestImpl.h"
#include <cstring>
#include <new>
#include "kqDummyArchive.h"
#include "kqSmartPtr.h"
#include "kqStreamArchive.h"

namespace {
constexpr LONG kVersion = 1;
}

const DigestClass g_aDigestClasses[4] = {
    {1, 16, {0x4fda34c1, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}},
     {0xed2a74d8, 0x92b5, 0x46b2, {0xa4, 0x09, 0xaa, 0xd3, 0xf9, 0xb3, 0x69, 0xc7}}},
    {2, 20, {0x4fda34c2, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}},
     {0xed2a74d9, 0x92b5, 0x46b2, {0xa4, 0x09, 0xaa, 0xd3, 0xf9, 0xb3, 0x69, 0xc7}}},
    {3, 32, {0x4fda34c3, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}},
     {0xed2a74da, 0x92b5, 0x46b2, {0xa4, 0x09, 0xaa, 0xd3, 0xf9, 0xb3, 0x69, 0xc7}}},
    {4, 64, {0x4fda34c4, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}},
     {0xed2a74db, 0x92b5, 0x46b2, {0xa4, 0x09, 0xaa, 0xd3, 0xf9, 0xb3, 0x69, 0xc7}}},
};

IObjectBase* CreateDigestImpl(DWORD dwKind)
{
    if (dwKind < 1 || dwKind > 4)
        return nullptr;
    return static_cast<IDigest*>(new (std::nothrow) CDigestImpl(g_aDigestClasses[dwKind - 1]));
}

IObjectBase* CreateDigest16Impl() { return CreateDigestImpl(1); }
IObjectBase* CreateDigest20Impl() { return CreateDigestImpl(2); }
IObjectBase* CreateDigest32Impl() { return CreateDigestImpl(3); }
IObjectBase* CreateDigest64Impl() { return CreateDigestImpl(4); }

HRESULT CDigestImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IDigest::kIid || riid == m_Class.iidOwn)
        return AnswerInterface(static_cast<IDigest*>(this), ppObject);
    if (riid == ISerialize::kIid)
        return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
    if (riid == IClone::kIid)
        return AnswerInterface(static_cast<IClone*>(this), ppObject);
    return RefuseInterface(ppObject);
}

void CDigestImpl::SetValue(const BYTE* pbValue)
{
    if (!pbValue)
        return;
    CAutoLock lock(m_csLock);
    memmove(m_abValue, pbValue, m_Class.dwLength);
    m_bDirty = true;
}

const BYTE* CDigestImpl::GetValue()
{
    return m_abValue;
}

bool CDigestImpl::SaveTo(CArchive& archive)
{
    return archive.WriteLong(kVersion) && archive.WriteBinary(m_abValue, m_Class.dwLength);
}

ULONGLONG CDigestImpl::GetSizeMax()
{
    CAutoLock lock(m_csLock);
    CDummyArchive counter;
    return SaveTo(counter) ? counter.GetTotal() : 0;
}

bool CDigestImpl::Save(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Store);
    if (!archive.IsAttached() || !SaveTo(archive))
        return false;
    m_bDirty = false;
    return true;
}

bool CDigestImpl::Load(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Load);
    LONG lVersion = 0;
    DWORD dwLength = 0;
    BYTE abValue[kMaxLength];
    // A longer block fails on the buffer size, a shorter one on the length check.
    if (!archive.IsAttached() || !archive.ReadLong(&lVersion) || lVersion != kVersion ||
        !archive.PeekLength(&dwLength) || dwLength != m_Class.dwLength ||
        !archive.ReadBinary(abValue, m_Class.dwLength, &dwLength) || dwLength != m_Class.dwLength)
        return false;
    memcpy(m_abValue, abValue, m_Class.dwLength);
    m_bDirty = false;
    return true;
}

bool CDigestImpl::CopyFrom(IObjectBase* pSource)
{
    IDigest* pDigest = nullptr;
    if (!pSource || FAILED(pSource->QueryInterface(m_Class.iidOwn, reinterpret_cast<void**>(&pDigest))) || !pDigest)
        return false;
    CSmartPtr<IDigest> spDigest;
    spDigest.Attach(pDigest);
    if (spDigest.Get() != static_cast<IDigest*>(this))
        SetValue(spDigest->GetValue());
    return true;
}

bool CDigestImpl::Clone(IObjectBase** ppObject)
{
    if (!ppObject)
        return false;
    *ppObject = nullptr;
    CSmartPtr<IObjectBase> spClone;
    spClone.Attach(CreateDigestImpl(m_Class.dwKind));
    CSmartPtr<IClone> spTarget;
    if (!spClone || FAILED(spTarget.QueryFrom(spClone.Get())) || !spTarget->CopyFrom(static_cast<IDigest*>(this)))
        return false;
    *ppObject = spClone.Detach();
    return true;
}
