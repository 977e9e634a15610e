// An IByteStream over a CMemory that it owns, with a 32-bit position; locked per operation.
#pragma once
#include "kqByteStream.h"
#include "kqCriticalSection.h"
#include "kqMemory.h"
#include "kqObjectRoot.h"

class CMemoryStreamImpl : public CObjectRoot, public IByteStream
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    bool GetSize(ULONGLONG* pullSize) override;
    // Keeps the contents (allocating when empty) and puts the position back to 0.
    bool SetSize(ULONGLONG ullSize) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    // At most the size.
    bool SetPosition(ULONGLONG ullPosition) override;
    // Grows the memory to position + count when needed.
    bool Write(const void* pData, DWORD dwCount) override;
    bool Read(void* pBuffer, DWORD dwCount) override;

    // For the owner to fill or read; callers lock nothing, so use it before sharing the stream.
    CMemory& GetMemory() { return m_Memory; }

private:
    CCriticalSection m_csLock;
    CMemory m_Memory;
    DWORD m_dwPosition = 0;
};

// A new empty memory stream with one reference, or nullptr when memory runs out.
CMemoryStreamImpl* CreateMemoryStreamImpl();
