// A memory block with several allocation strategies. Not locked: its owner locks.
#pragma once
#include <windows.h>

enum AllocKind
{
    eAllocKind_None = 0,
    eAllocKind_External = 1,     // owned by someone else, never freed here
    eAllocKind_RuntimeHeap = 2,  // calloc/free
    eAllocKind_ProcessHeap = 3,  // process heap; the size is the heap's block size
    eAllocKind_Virtual = 4,      // committed pages; the size is rounded up to whole pages
    eAllocKind_Inline = 5,       // the object's own buffer of kInlineSize bytes
    eAllocKind_Caller = 6,       // the caller's allocate and free functions
};

typedef void* (*PFNMEMORYALLOCATE)(DWORD dwSize);
typedef void (*PFNMEMORYFREE)(void* pData);

class CMemory
{
public:
    static constexpr DWORD kInlineSize = 128;

    CMemory() = default;
    ~CMemory();
    CMemory(const CMemory&) = delete;
    CMemory& operator=(const CMemory&) = delete;

    // Frees the old block; up to kInlineSize bytes use the inline buffer (not cleared), larger
    // sizes the run-time heap (zero-filled). The data pointer, or nullptr on failure; a size
    // of 0 leaves the memory empty and gives nullptr.
    void* Allocate(DWORD dwSize);
    // Kinds 2 to 6: kind 2 is Allocate(size), kind 5 falls back to it above kInlineSize, kind 6
    // fails without caller functions.
    void* Allocate(AllocKind eKind, DWORD dwSize);
    // The new data pointer; nullptr when nothing is allocated, for kind 1 or when memory runs
    // out (the old block then stays as it was).
    void* Resize(DWORD dwSize);
    // Allocates a block of that kind and copies the data into it; kind 1 refers to the data
    // without copying. Fails for absent data or size 0.
    bool SetData(AllocKind eKind, const void* pData, DWORD dwSize);
    // Refers to memory owned by someone else (kind 1).
    void Attach(void* pData, DWORD dwSize);
    // Same kind and size, bytes copied, caller functions taken over; an empty source gives an
    // empty copy.
    bool CopyFrom(const CMemory& other);
    // Moves the other's block here; small inline or heap blocks are copied into this object's
    // inline buffer. The other ends empty.
    void TakeOver(CMemory& other);
    void Free();

    void SetCallerFunctions(PFNMEMORYALLOCATE pfnAllocate, PFNMEMORYFREE pfnFree);

    DWORD GetSize() const { return m_dwSize; }
    void* GetData() const { return m_pData; }
    AllocKind GetKind() const { return m_eKind; }

private:
    // A new block of that kind, zero-filled where the kind promises it; the real size in
    // *pdwRealSize. Nothing is changed in this object.
    void* NewBlock(AllocKind eKind, DWORD dwSize, DWORD* pdwRealSize);
    void ReleaseBlock(AllocKind eKind, void* pData);
    void* ResizeByCopy(DWORD dwSize);

    AllocKind m_eKind = eAllocKind_None;
    DWORD m_dwSize = 0;
    void* m_pData = nullptr;
    PFNMEMORYALLOCATE m_pfnAllocate = nullptr;
    PFNMEMORYFREE m_pfnFree = nullptr;
    alignas(16) BYTE m_abInline[kInlineSize] = {};
};
