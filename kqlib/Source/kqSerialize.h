// Persistable and clonable library objects.
#pragma once
#include <windows.h>
#include "kqByteStream.h"
#include "kqObjectBase.h"

struct ISerialize : public IObjectBase
{
    // {E53AF6AF-D199-4FB5-BD18-4D072CD35694}
    static constexpr GUID kIid = {0xe53af6af, 0xd199, 0x4fb5, {0xbd, 0x18, 0x4d, 0x07, 0x2c, 0xd3, 0x56, 0x94}};

    // The exact byte count of the saved form.
    virtual ULONGLONG GetSizeMax() = 0;
    // Write or read the saved form at the stream's position, through an archive over it;
    // success clears the dirty flag.
    virtual bool Save(IByteStream* pStream) = 0;
    virtual bool Load(IByteStream* pStream) = 0;
    virtual bool IsDirty() = 0;
    virtual void SetDirty(bool bDirty) = 0;
    virtual bool GetClassID(GUID* pClassId) = 0;
};

struct IClone : public IObjectBase
{
    // {BA592838-A334-47FD-A894-B0F4691BB38C}
    static constexpr GUID kIid = {0xba592838, 0xa334, 0x47fd, {0xa8, 0x94, 0xb0, 0xf4, 0x69, 0x1b, 0xb3, 0x8c}};

    virtual bool CopyFrom(IObjectBase* pSource) = 0;
    // A new object of the same class with the same contents, one reference, in *ppObject.
    virtual bool Clone(IObjectBase** ppObject) = 0;
};
