#include "kqMemory.h"
#include <cstdlib>
#include <cstring>

namespace {

DWORD PageSize()
{
    // Fetched once; the value never changes while the process runs.
    static const DWORD s_dwPageSize = [] {
        SYSTEM_INFO info = {};
        GetSystemInfo(&info);
        return info.dwPageSize ? info.dwPageSize : 4096;
    }();
    return s_dwPageSize;
}

// 0 when the rounded size would not fit in 32 bits.
DWORD RoundToPages(DWORD dwSize)
{
    ULONGLONG ullPage = PageSize();
    ULONGLONG ullRounded = (static_cast<ULONGLONG>(dwSize) + ullPage - 1) / ullPage * ullPage;
    return ullRounded > 0xFFFFFFFFULL ? 0 : static_cast<DWORD>(ullRounded);
}

}  // namespace

CMemory::~CMemory()
{
    Free();
}

void CMemory::SetCallerFunctions(PFNMEMORYALLOCATE pfnAllocate, PFNMEMORYFREE pfnFree)
{
    m_pfnAllocate = pfnAllocate;
    m_pfnFree = pfnFree;
}

void* CMemory::NewBlock(AllocKind eKind, DWORD dwSize, DWORD* pdwRealSize)
{
    *pdwRealSize = dwSize;
    switch (eKind)
    {
    case eAllocKind_RuntimeHeap:
        return calloc(dwSize, 1);
    case eAllocKind_ProcessHeap:
    {
        void* pData = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, dwSize);
        if (pData)
        {
            SIZE_T cbReal = HeapSize(GetProcessHeap(), 0, pData);
            if (cbReal != static_cast<SIZE_T>(-1) && cbReal >= dwSize && cbReal <= 0xFFFFFFFF)
                *pdwRealSize = static_cast<DWORD>(cbReal);
        }
        return pData;
    }
    case eAllocKind_Virtual:
    {
        DWORD dwRounded = RoundToPages(dwSize);
        if (dwRounded == 0)
            return nullptr;
        *pdwRealSize = dwRounded;
        return VirtualAlloc(nullptr, dwRounded, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    case eAllocKind_Inline:
        return dwSize <= kInlineSize ? m_abInline : nullptr;
    case eAllocKind_Caller:
    {
        if (!m_pfnAllocate || !m_pfnFree)
            return nullptr;
        void* pData = m_pfnAllocate(dwSize);
        if (pData)
            memset(pData, 0, dwSize);
        return pData;
    }
    default:
        return nullptr;
    }
}

void CMemory::ReleaseBlock(AllocKind eKind, void* pData)
{
    if (!pData)
        return;
    switch (eKind)
    {
    case eAllocKind_RuntimeHeap:
        free(pData);
        break;
    case eAllocKind_ProcessHeap:
        HeapFree(GetProcessHeap(), 0, pData);
        break;
    case eAllocKind_Virtual:
        VirtualFree(pData, 0, MEM_RELEASE);
        break;
    case eAllocKind_Caller:
        if (m_pfnFree)
            m_pfnFree(pData);
        break;
    default:
        break;
    }
}

void CMemory::Free()
{
    ReleaseBlock(m_eKind, m_pData);
    m_eKind = eAllocKind_None;
    m_pData = nullptr;
    m_dwSize = 0;
}

void* CMemory::Allocate(DWORD dwSize)
{
    Free();
    if (dwSize == 0)
        return nullptr;
    AllocKind eKind = dwSize <= kInlineSize ? eAllocKind_Inline : eAllocKind_RuntimeHeap;
    DWORD dwReal = 0;
    void* pData = NewBlock(eKind, dwSize, &dwReal);
    if (!pData)
        return nullptr;
    m_eKind = eKind;
    m_pData = pData;
    m_dwSize = dwReal;
    return pData;
}

void* CMemory::Allocate(AllocKind eKind, DWORD dwSize)
{
    switch (eKind)
    {
    case eAllocKind_RuntimeHeap:
        return Allocate(dwSize);
    case eAllocKind_Inline:
        if (dwSize > kInlineSize)
            return Allocate(dwSize);
        break;
    case eAllocKind_ProcessHeap:
    case eAllocKind_Virtual:
    case eAllocKind_Caller:
        break;
    default:
        return nullptr;
    }
    Free();
    if (dwSize == 0)
        return nullptr;
    DWORD dwReal = 0;
    void* pData = NewBlock(eKind, dwSize, &dwReal);
    if (!pData)
        return nullptr;
    m_eKind = eKind;
    m_pData = pData;
    m_dwSize = dwReal;
    return pData;
}

void* CMemory::ResizeByCopy(DWORD dwSize)
{
    AllocKind eNewKind = m_eKind;
    // An inline block that outgrows its buffer moves to the run-time heap.
    if (eNewKind == eAllocKind_Inline && dwSize > kInlineSize)
        eNewKind = eAllocKind_RuntimeHeap;
    if (eNewKind == eAllocKind_Inline)
    {
        // Shrinking or growing inside the buffer keeps the bytes where they are.
        if (dwSize > m_dwSize)
            memset(m_abInline + m_dwSize, 0, dwSize - m_dwSize);
        m_dwSize = dwSize;
        return m_pData;
    }
    DWORD dwReal = 0;
    void* pNew = NewBlock(eNewKind, dwSize, &dwReal);
    if (!pNew)
        return nullptr;
    memcpy(pNew, m_pData, m_dwSize < dwSize ? m_dwSize : dwSize);
    ReleaseBlock(m_eKind, m_pData);
    m_eKind = eNewKind;
    m_pData = pNew;
    m_dwSize = dwReal;
    return pNew;
}

void* CMemory::Resize(DWORD dwSize)
{
    if (m_eKind == eAllocKind_None || m_eKind == eAllocKind_External || !m_pData || dwSize == 0)
        return nullptr;
    if (dwSize == m_dwSize)
        return m_pData;
    switch (m_eKind)
    {
    case eAllocKind_ProcessHeap:
    {
        if (dwSize <= kInlineSize)
        {
            memcpy(m_abInline, m_pData, m_dwSize < dwSize ? m_dwSize : dwSize);
            HeapFree(GetProcessHeap(), 0, m_pData);
            m_eKind = eAllocKind_Inline;
            m_pData = m_abInline;
            m_dwSize = dwSize;
            return m_pData;
        }
        void* pNew = HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, m_pData, dwSize);
        if (!pNew)
            return nullptr;
        SIZE_T cbReal = HeapSize(GetProcessHeap(), 0, pNew);
        m_pData = pNew;
        m_dwSize = (cbReal != static_cast<SIZE_T>(-1) && cbReal >= dwSize && cbReal <= 0xFFFFFFFF)
                       ? static_cast<DWORD>(cbReal)
                       : dwSize;
        return m_pData;
    }
    case eAllocKind_Virtual:
        if (RoundToPages(dwSize) == m_dwSize)
            return m_pData;
        return ResizeByCopy(dwSize);
    default:
        return ResizeByCopy(dwSize);
    }
}

bool CMemory::SetData(AllocKind eKind, const void* pData, DWORD dwSize)
{
    if (!pData || dwSize == 0)
        return false;
    if (eKind == eAllocKind_External)
    {
        Attach(const_cast<void*>(pData), dwSize);
        return true;
    }
    // The source may lie inside the block that is about to be freed.
    if (m_pData && pData >= m_pData && static_cast<const BYTE*>(pData) < static_cast<BYTE*>(m_pData) + m_dwSize)
        return false;
    void* pTarget = Allocate(eKind, dwSize);
    if (!pTarget)
        return false;
    memcpy(pTarget, pData, dwSize);
    return true;
}

void CMemory::Attach(void* pData, DWORD dwSize)
{
    Free();
    if (!pData || dwSize == 0)
        return;
    m_eKind = eAllocKind_External;
    m_pData = pData;
    m_dwSize = dwSize;
}

bool CMemory::CopyFrom(const CMemory& other)
{
    if (&other == this)
        return true;
    Free();
    m_pfnAllocate = other.m_pfnAllocate;
    m_pfnFree = other.m_pfnFree;
    if (other.m_eKind == eAllocKind_None || !other.m_pData)
        return true;
    if (other.m_eKind == eAllocKind_External)
    {
        Attach(other.m_pData, other.m_dwSize);
        return true;
    }
    DWORD dwReal = 0;
    void* pData = NewBlock(other.m_eKind, other.m_dwSize, &dwReal);
    if (!pData)
        return false;
    memcpy(pData, other.m_pData, other.m_dwSize);
    m_eKind = other.m_eKind;
    m_pData = pData;
    m_dwSize = other.m_dwSize > dwReal ? other.m_dwSize : dwReal;
    return true;
}

void CMemory::TakeOver(CMemory& other)
{
    if (&other == this)
        return;
    Free();
    m_pfnAllocate = other.m_pfnAllocate;
    m_pfnFree = other.m_pfnFree;
    if (other.m_eKind == eAllocKind_None || !other.m_pData)
    {
        other.Free();
        return;
    }
    bool bMovesOwner = other.m_eKind == eAllocKind_External || other.m_eKind == eAllocKind_Virtual ||
                       other.m_eKind == eAllocKind_Caller ||
                       (other.m_eKind != eAllocKind_Inline && other.m_dwSize > kInlineSize);
    if (bMovesOwner)
    {
        m_eKind = other.m_eKind;
        m_pData = other.m_pData;
        m_dwSize = other.m_dwSize;
        other.m_eKind = eAllocKind_None;
        other.m_pData = nullptr;
        other.m_dwSize = 0;
        return;
    }
    memcpy(m_abInline, other.m_pData, other.m_dwSize);
    m_eKind = eAllocKind_Inline;
    m_pData = m_abInline;
    m_dwSize = other.m_dwSize;
    other.Free();
}
