// A stream on a file that can be narrowed to a window (base and limit), so that one entry of a
// package file reads like a stream of its own: position 0 is the entry's first byte and the
// size is the entry's size. The owner opens the file through GetFile.
#pragma once
#include <windows.h>

#include "kqByteStream.h"
#include "kqCriticalSection.h"
#include "kqFile.h"
#include "kqObjectRoot.h"

namespace ZIRA {

// Reports the system error of the last failed file operation of a stream.
struct IFileStreamError : public IObjectBase
{
    // {23A3BADF-DF91-48B5-B76D-D62CDD9DBDF9}
    static constexpr GUID kIid = {0x23a3badf, 0xdf91, 0x48b5, {0xb7, 0x6d, 0xd6, 0x2c, 0xdd, 0x9d, 0xbd, 0xf9}};

    virtual DWORD GetLastError() = 0;
};

class CFileStreamImpl : public CObjectRoot, public IByteStream, public IFileStreamError
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    // The file, for the owner to open; it is closed when the stream goes.
    CFile& GetFile() { return m_File; }
    // Makes the file's current position stream position 0 and returns it (the base stays as it
    // was when the position cannot be read).
    ULONGLONG SetBase();
    // Ends the stream ullSize bytes after the base; a limit of 0 makes an empty window. Ignored
    // while the base is 0.
    void SetLimit(ULONGLONG ullSize);

    // IByteStream, each under the lock. Size and position are relative to the base and never
    // larger than the limit; SetSize and Write work only on a plain stream (no base, no limit).
    bool GetSize(ULONGLONG* pullSize) override;
    bool SetSize(ULONGLONG ullSize) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    bool SetPosition(ULONGLONG ullPosition) override;
    bool Write(const void* pData, DWORD dwCount) override;
    // Exactly dwCount bytes from the file's position; the limit does not shorten a read.
    bool Read(void* pBuffer, DWORD dwCount) override;

    // IFileStreamError: the file's last system error.
    DWORD GetLastError() override;

private:
    bool IsPlain() const { return m_qwBase == 0 && !m_bLimited; }
    // A size or position held to the limit, when there is one.
    ULONGLONG Clamp(ULONGLONG ullPosition) const { return m_bLimited && ullPosition > m_qwLimit ? m_qwLimit : ullPosition; }

    CCriticalSection m_csLock;
    CFile m_File;
    ULONGLONG m_qwBase = 0;
    // A window of 0 bytes is a window too: whether there is a limit is not read from its value.
    bool m_bLimited = false;
    ULONGLONG m_qwLimit = 0;
};

// A new stream with one reference, or nullptr when memory runs out.
CFileStreamImpl* CreateFileStreamImpl();

}  // namespace ZIRA
