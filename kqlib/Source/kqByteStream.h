// The library's stream interface. Reads and writes are all-or-nothing: a call that cannot
// transfer exactly the requested count fails.
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

struct IByteStream : public IObjectBase
{
    // {5ADE9677-53A9-4827-A659-5595C923EFE3}
    static constexpr GUID kIid = {0x5ade9677, 0x53a9, 0x4827, {0xa6, 0x59, 0x55, 0x95, 0xc9, 0x23, 0xef, 0xe3}};

    virtual bool GetSize(ULONGLONG* pullSize) = 0;
    virtual bool SetSize(ULONGLONG ullSize) = 0;
    virtual bool GetPosition(ULONGLONG* pullPosition) = 0;
    virtual bool SetPosition(ULONGLONG ullPosition) = 0;
    virtual bool Write(const void* pData, DWORD dwCount) = 0;
    virtual bool Read(void* pBuffer, DWORD dwCount) = 0;
};
