// An archive over a library stream. It starts at the stream's current position, tracks its
// own position and the highest one reached, and leaves the stream at the highest position when
// it is detached or destroyed.
#pragma once
#include "kqArchive.h"
#include "kqSmartPtr.h"

class CStreamArchive : public CArchive
{
public:
    CStreamArchive(IByteStream* pStream, ArchiveMode eMode);
    ~CStreamArchive() override;

    // True when a stream is attached and its position could be read.
    bool IsAttached() const { return static_cast<bool>(m_spStream); }
    // Leaves the stream at the highest position reached and lets it go.
    void Detach();

    // A window is a sub-stream of the attached stream.
    bool OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream) override;
    bool ReadBytes(void* pBuffer, DWORD dwCount) override;
    bool WriteBytes(const void* pData, DWORD dwCount) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    // Refuses positions beyond the stream's size.
    bool SetPosition(ULONGLONG ullPosition) override;
    ULONGLONG GetAvailable() override;

private:
    void Reached(ULONGLONG ullPosition);

    CSmartPtr<IByteStream> m_spStream;
    ULONGLONG m_ullPosition = 0;
    ULONGLONG m_ullHighest = 0;
};
