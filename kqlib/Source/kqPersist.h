// Persists single members of an object as archive items.
#pragma once
#include "kqArchive.h"

class CPersist
{
public:
    // A long as a long item.
    static bool Write(LONG lValue, CArchive& archive) { return archive.WriteLong(lValue); }
    static bool Read(LONG& lValue, CArchive& archive) { return archive.ReadLong(&lValue); }
    // A memory object as a binary block.
    static bool Write(const CMemory& memory, CArchive& archive) { return archive.WriteBinary(memory); }
    static bool Read(CMemory& memory, CArchive& archive) { return archive.ReadBinary(memory); }
};
