// An archive that stores nothing and only counts: serializing into it in store mode gives the
// exact serialized size through GetTotal.
#pragma once
#include "kqArchive.h"

class CDummyArchive : public CArchive
{
public:
    explicit CDummyArchive(ArchiveMode eMode = eArchiveMode_Store) : CArchive(eMode) {}

    // A stream that accepts everything and keeps nothing.
    bool OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream) override;
    bool ReadBytes(void* pBuffer, DWORD dwCount) override;
    bool WriteBytes(const void* pData, DWORD dwCount) override;
    // Always 0.
    bool GetPosition(ULONGLONG* pullPosition) override;
    bool SetPosition(ULONGLONG ullPosition) override;
    // Nothing to read: a counter holds no data.
    ULONGLONG GetAvailable() override { return 0; }
    bool IsCountingOnly() const override { return true; }
};
