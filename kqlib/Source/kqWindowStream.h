// An IByteStream over a byte range (start, length) of a CMemory or of another stream; its
// position is relative to the range start and it can never leave the range. Archives hand
// these out for the saved form of an object.
#pragma once
#include "kqByteStream.h"
#include "kqCriticalSection.h"
#include "kqMemory.h"
#include "kqObjectRoot.h"
#include "kqSmartPtr.h"

class CWindowStream : public CObjectRoot, public IByteStream
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    // The range length.
    bool GetSize(ULONGLONG* pullSize) override;
    // Always fails: the range is fixed.
    bool SetSize(ULONGLONG ullSize) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    // At most the length.
    bool SetPosition(ULONGLONG ullPosition) override;
    bool Write(const void* pData, DWORD dwCount) override;
    bool Read(void* pBuffer, DWORD dwCount) override;

    // A window on a range of a memory object that the caller keeps alive and does not shrink
    // while the window is in use; the data pointer is fetched anew for every transfer.
    static CWindowStream* CreateOnMemory(CMemory* pMemory, ULONGLONG ullStart, ULONGLONG ullLength);
    // A window on a range of another stream, which it holds a reference to.
    static CWindowStream* CreateOnStream(IByteStream* pStream, ULONGLONG ullStart, ULONGLONG ullLength);

private:
    CWindowStream() = default;
    bool Transfer(void* pBuffer, const void* pData, DWORD dwCount);

    CCriticalSection m_csLock;
    CMemory* m_pMemory = nullptr;
    CSmartPtr<IByteStream> m_spStream;
    ULONGLONG m_ullStart = 0;
    ULONGLONG m_ullLength = 0;
    ULONGLONG m_ullPosition = 0;
};
