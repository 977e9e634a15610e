// A persistable, clonable string (class id {3F05A321-43B7-4578-93C8-CDC5F64A149A}) that keeps
// an 8-bit and a UTF-16 form; m_eStringType says which one is the value.
#pragma once
#include <string>
#include "kqCriticalSection.h"
#include "kqObjectRoot.h"
#include "kqSerializeImpl.h"

class CArchive;

enum StringType
{
    eStringType_None = 0,
    eStringType_Ansi = 1,
    eStringType_Wide = 2,
};

struct IString : public IObjectBase
{
    // {A7D3C915-64E2-4F0B-8C21-5E9B7D03A6F4}
    static constexpr GUID kIid = {0xa7d3c915, 0x64e2, 0x4f0b, {0x8c, 0x21, 0x5e, 0x9b, 0x7d, 0x03, 0xa6, 0xf4}};

    // Both forms emptied, type 0.
    virtual void Clear() = 0;
    virtual LONG GetType() = 0;
    // Characters of the current form; 0 for type 0.
    virtual DWORD GetLength() = 0;
    // The 8-bit text; for a UTF-16 value it is converted with the ANSI code page and kept as
    // the 8-bit form. Valid until the next change; nullptr when conversion fails.
    virtual const char* GetStringA() = 0;
    virtual bool SetStringA(const char* pszText) = 0;
    // The same as SetStringA and SetStringW.
    virtual bool AssignA(const char* pszText) = 0;
    virtual bool AssignW(const wchar_t* pszText) = 0;
    virtual const wchar_t* GetStringW() = 0;
    virtual bool SetStringW(const wchar_t* pszText) = 0;
};

class CStringImpl : public CObjectRoot, public IString, public CSerializeImpl, public IClone
{
public:
    // {3F05A321-43B7-4578-93C8-CDC5F64A149A}
    static constexpr GUID kClassId = {0x3f05a321, 0x43b7, 0x4578, {0x93, 0xc8, 0xcd, 0xc5, 0xf6, 0x4a, 0x14, 0x9a}};

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    void Clear() override;
    LONG GetType() override;
    DWORD GetLength() override;
    const char* GetStringA() override;
    bool SetStringA(const char* pszText) override;
    bool AssignA(const char* pszText) override;
    bool AssignW(const wchar_t* pszText) override;
    const wchar_t* GetStringW() override;
    bool SetStringW(const wchar_t* pszText) override;

    // Saved form: long 1, long type, then the value as a string item of that type.
    ULONGLONG GetSizeMax() override;
    bool Save(IByteStream* pStream) override;
    bool Load(IByteStream* pStream) override;

    // The source must be a string object.
    bool CopyFrom(IObjectBase* pSource) override;
    bool Clone(IObjectBase** ppObject) override;

private:
    const GUID& ClassId() const override { return kClassId; }
    bool SaveTo(CArchive& archive);

    std::string m_strAnsi;
    std::wstring m_strWide;
    LONG m_eStringType = eStringType_None;
};

// A new empty string object with one reference, or nullptr when memory runs out.
IObjectBase* CreateStringImpl();
