// A persistable, clonable memory block (class id {31324564-3B13-4533-8999-33990688F5A9}).
#pragma once
#include "kqCriticalSection.h"
#include "kqMemory.h"
#include "kqObjectRoot.h"
#include "kqSerializeImpl.h"

class CArchive;

struct IMemory : public IObjectBase
{
    // {6C1B4E52-2F0D-4A8B-9E57-3B8F1A40C2D1}
    static constexpr GUID kIid = {0x6c1b4e52, 0x2f0d, 0x4a8b, {0x9e, 0x57, 0x3b, 0x8f, 0x1a, 0x40, 0xc2, 0xd1}};

    // The data pointer, or nullptr on failure.
    virtual void* Allocate(DWORD dwSize) = 0;
    virtual void* Resize(DWORD dwSize) = 0;
    virtual void Free() = 0;
    virtual DWORD GetSize() = 0;
    virtual void* GetData() = 0;
    // Frees first, then copies into a run-time-heap block.
    virtual void* SetData(const void* pData, DWORD dwSize) = 0;
};

class CMemoryImpl : public CObjectRoot, public IMemory, public CSerializeImpl, public IClone
{
public:
    // {31324564-3B13-4533-8999-33990688F5A9}
    static constexpr GUID kClassId = {0x31324564, 0x3b13, 0x4533, {0x89, 0x99, 0x33, 0x99, 0x06, 0x88, 0xf5, 0xa9}};

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    void* Allocate(DWORD dwSize) override;
    void* Resize(DWORD dwSize) override;
    void Free() override;
    DWORD GetSize() override;
    void* GetData() override;
    void* SetData(const void* pData, DWORD dwSize) override;

    // Saved form: long 1, then the bytes as a binary block.
    ULONGLONG GetSizeMax() override;
    bool Save(IByteStream* pStream) override;
    bool Load(IByteStream* pStream) override;

    // The source must be a memory object.
    bool CopyFrom(IObjectBase* pSource) override;
    bool Clone(IObjectBase** ppObject) override;

private:
    const GUID& ClassId() const override { return kClassId; }
    bool SaveTo(CArchive& archive);

    CMemory m_Memory;
};

// A new empty memory object with one reference, or nullptr when memory runs out.
IObjectBase* CreateMemoryImpl();
