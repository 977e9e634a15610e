// Persistable holders of one finished digest value of a fixed length. They compute nothing.
//   kind 1: 16 bytes, kind 2: 20 bytes, kind 3: 32 bytes, kind 4: 64 bytes.
#pragma once
#include "kqCriticalSection.h"
#include "kqObjectRoot.h"
#include "kqSerializeImpl.h"

class CArchive;

struct IDigest : public IObjectBase
{
    // The interface every digest answers: {ED2A74D7-92B5-46B2-A409-AAD3F9B369C7}. Each class also
    // answers its own id (kOwnIid of its description below) with the same interface.
    static constexpr GUID kIid = {0xed2a74d7, 0x92b5, 0x46b2, {0xa4, 0x09, 0xaa, 0xd3, 0xf9, 0xb3, 0x69, 0xc7}};

    virtual DWORD GetKind() = 0;
    // Copies exactly the class's length.
    virtual void SetValue(const BYTE* pbValue) = 0;
    // The class's length of bytes.
    virtual const BYTE* GetValue() = 0;
};

struct DigestClass
{
    DWORD dwKind;
    DWORD dwLength;
    GUID clsid;
    GUID iidOwn;
};

// The four classes, by kind 1 to 4 at index 0 to 3.
extern const DigestClass g_aDigestClasses[4];

class CDigestImpl : public CObjectRoot, public IDigest, public CSerializeImpl, public IClone
{
public:
    static constexpr DWORD kMaxLength = 64;

    explicit CDigestImpl(const DigestClass& digestClass) : m_Class(digestClass) {}

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    DWORD GetKind() override { return m_Class.dwKind; }
    void SetValue(const BYTE* pbValue) override;
    const BYTE* GetValue() override;

    // Saved form: long 1, then a binary block of exactly the class's length.
    ULONGLONG GetSizeMax() override;
    bool Save(IByteStream* pStream) override;
    bool Load(IByteStream* pStream) override;

    // The source must answer this class's own interface id.
    bool CopyFrom(IObjectBase* pSource) override;
    bool Clone(IObjectBase** ppObject) override;

private:
    const GUID& ClassId() const override { return m_Class.clsid; }
    bool SaveTo(CArchive& archive);

    const DigestClass& m_Class;
    BYTE m_abValue[kMaxLength] = {};
};

// New digests of each kind with one reference, or nullptr when memory runs out.
IObjectBase* CreateDigest16Impl();
IObjectBase* CreateDigest20Impl();
IObjectBase* CreateDigest32Impl();
IObjectBase* CreateDigest64Impl();
// By kind 1 to 4; nullptr for another kind.
IObjectBase* CreateDigestImpl(DWORD dwKind);
