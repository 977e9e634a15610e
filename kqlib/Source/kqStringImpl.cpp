#include "kqStringImpl.h"
#include <new>
#include "kqDummyArchive.h"
#include "kqSmartPtr.h"
#include "kqStreamArchive.h"
#include "kqStringConvert.h"

namespace {
constexpr LONG kVersion = 1;
}

IObjectBase* CreateStringImpl()
{
    return static_cast<IString*>(new (std::nothrow) CStringImpl);
}

HRESULT CStringImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IString::kIid)
        return AnswerInterface(static_cast<IString*>(this), ppObject);
    if (riid == ISerialize::kIid)
        return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
    if (riid == IClone::kIid)
        return AnswerInterface(static_cast<IClone*>(this), ppObject);
    return RefuseInterface(ppObject);
}

void CStringImpl::Clear()
{
    CAutoLock lock(m_csLock);
    m_strAnsi.clear();
    m_strWide.clear();
    m_eStringType = eStringType_None;
    m_bDirty = true;
}

LONG CStringImpl::GetType()
{
    CAutoLock lock(m_csLock);
    return m_eStringType;
}

DWORD CStringImpl::GetLength()
{
    CAutoLock lock(m_csLock);
    switch (m_eStringType)
    {
    case eStringType_Ansi:
        return static_cast<DWORD>(m_strAnsi.size());
    case eStringType_Wide:
        return static_cast<DWORD>(m_strWide.size());
    default:
        return 0;
    }
}

const char* CStringImpl::GetStringA()
{
    CAutoLock lock(m_csLock);
    if (m_eStringType == eStringType_Wide && !ConvertToAnsi(m_strWide.data(), m_strWide.size(), m_strAnsi))
        return nullptr;
    return m_strAnsi.c_str();
}

const wchar_t* CStringImpl::GetStringW()
{
    CAutoLock lock(m_csLock);
    if (m_eStringType == eStringType_Ansi && !ConvertToWide(m_strAnsi.data(), m_strAnsi.size(), m_strWide))
        return nullptr;
    return m_strWide.c_str();
}

bool CStringImpl::SetStringA(const char* pszText)
{
    CAutoLock lock(m_csLock);
    try
    {
        std::string strText(pszText ? pszText : "");
        m_strWide.clear();
        m_strAnsi.swap(strText);
        m_eStringType = eStringType_Ansi;
        m_bDirty = true;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CStringImpl::SetStringW(const wchar_t* pszText)
{
    CAutoLock lock(m_csLock);
    try
    {
        std::wstring strText(pszText ? pszText : L"");
        m_strAnsi.clear();
        m_strWide.swap(strText);
        m_eStringType = eStringType_Wide;
        m_bDirty = true;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool CStringImpl::AssignA(const char* pszText)
{
    CAutoLock lock(m_csLock);
    return SetStringA(pszText);
}

bool CStringImpl::AssignW(const wchar_t* pszText)
{
    CAutoLock lock(m_csLock);
    return SetStringW(pszText);
}

bool CStringImpl::SaveTo(CArchive& archive)
{
    if (!archive.WriteLong(kVersion) || !archive.WriteLong(m_eStringType))
        return false;
    switch (m_eStringType)
    {
    case eStringType_Ansi:
        return archive.WriteStringA(m_strAnsi.c_str());
    case eStringType_Wide:
        return archive.WriteStringW(m_strWide.c_str());
    default:
        return true;
    }
}

ULONGLONG CStringImpl::GetSizeMax()
{
    CAutoLock lock(m_csLock);
    CDummyArchive counter;
    return SaveTo(counter) ? counter.GetTotal() : 0;
}

bool CStringImpl::Save(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Store);
    if (!archive.IsAttached() || !SaveTo(archive))
        return false;
    m_bDirty = false;
    return true;
}

bool CStringImpl::Load(IByteStream* pStream)
{
    CAutoLock lock(m_csLock);
    CStreamArchive archive(pStream, eArchiveMode_Load);
    LONG lVersion = 0, lType = 0;
    if (!archive.IsAttached() || !archive.ReadLong(&lVersion) || lVersion != kVersion || !archive.ReadLong(&lType))
        return false;
    std::string strAnsi;
    std::wstring strWide;
    switch (lType)
    {
    case eStringType_None:
        break;
    case eStringType_Ansi:
        if (!archive.ReadStringA(strAnsi))
            return false;
        break;
    case eStringType_Wide:
        if (!archive.ReadStringW(strWide))
            return false;
        break;
    default:
        return false;
    }
    m_strAnsi.swap(strAnsi);
    m_strWide.swap(strWide);
    m_eStringType = lType;
    m_bDirty = false;
    return true;
}

bool CStringImpl::CopyFrom(IObjectBase* pSource)
{
    CSmartPtr<IString> spSource;
    if (FAILED(spSource.QueryFrom(pSource)))
        return false;
    if (spSource.Get() == static_cast<IString*>(this))
        return true;
    switch (spSource->GetType())
    {
    case eStringType_Ansi:
    {
        const char* psz = spSource->GetStringA();
        return psz && SetStringA(psz);
    }
    case eStringType_Wide:
    {
        const wchar_t* psz = spSource->GetStringW();
        return psz && SetStringW(psz);
    }
    default:
        Clear();
        return true;
    }
}

bool CStringImpl::Clone(IObjectBase** ppObject)
{
    if (!ppObject)
        return false;
    *ppObject = nullptr;
    CSmartPtr<IObjectBase> spClone;
    spClone.Attach(CreateStringImpl());
    CSmartPtr<IClone> spTarget;
    if (!spClone || FAILED(spTarget.QueryFrom(spClone.Get())) || !spTarget->CopyFrom(static_cast<IString*>(this)))
        return false;
    *ppObject = spClone.Detach();
    return true;
}
