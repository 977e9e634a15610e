// An archive over a memory object that the caller owns and keeps alive while the archive and
// the windows it hands out are in use. The position is 32-bit.
#pragma once
#include "kqArchive.h"

class CMemoryArchive : public CArchive
{
public:
    CMemoryArchive(CMemory& memory, ArchiveMode eMode) : CArchive(eMode), m_Memory(memory) {}

    bool OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream) override;
    // Fails when fewer bytes remain than requested.
    bool ReadBytes(void* pBuffer, DWORD dwCount) override;
    // Grows the memory to exactly position + count when it is too small.
    bool WriteBytes(const void* pData, DWORD dwCount) override;
    bool GetPosition(ULONGLONG* pullPosition) override;
    // Succeeds for the current position or any position below the memory's size.
    bool SetPosition(ULONGLONG ullPosition) override;
    ULONGLONG GetAvailable() override;

private:
    bool GrowTo(DWORD dwEnd);

    CMemory& m_Memory;
    DWORD m_dwPosition = 0;
};
