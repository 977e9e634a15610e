// An IByteStream over a CFile that it owns; locked per operation.
#pragma once
#include "kqByteStream.h"
#include "kqCriticalSection.h"
#include "kqFile.h"
#include "kqObjectRoot.h"

class CFileStreamImpl : public CObjectRoot, public IByteStream
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    bool GetSize(ULONGLONG* pullSize) override;
    bool SetSize(ULONGLONG ullSize) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    bool SetPosition(ULONGLONG ullPosition) override;
    bool Write(const void* pData, DWORD dwCount) override;
    bool Read(void* pBuffer, DWORD dwCount) override;

    // For the owner to open; the stream closes it when it goes.
    CFile& GetFile() { return m_File; }

protected:
    // For derived streams that replace an operation and must hold the same lock around it
    // (a critical section may be entered again by its owner).
    CCriticalSection& GetLock() { return m_csLock; }

private:
    CCriticalSection m_csLock;
    CFile m_File;
};

// A new file stream with one reference, or nullptr when memory runs out.
CFileStreamImpl* CreateFileStreamImpl();
