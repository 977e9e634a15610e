// Typed value collections: values of the types below under 32-bit keys (IKeyValueCollection)
// or by position (IIndexValueCollection). Every get and set returns true or false; a get of
// another type than the stored one converts when ConvertOnGet is on and the conversion is
// allowed (never narrowing an integer).
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "kqArchive.h"
#include "kqObjectBase.h"

// The type byte of a value; the same numbers are written into archives.
enum ValueType : BYTE
{
    eValueType_Empty = 0,
    eValueType_Bool = 1,
    eValueType_Char = 2,
    eValueType_Byte = 3,
    eValueType_Short = 4,
    eValueType_Word = 5,
    eValueType_Long = 6,
    eValueType_DWord = 7,
    eValueType_Int64 = 8,
    eValueType_UInt64 = 9,
    eValueType_Double = 10,
    eValueType_Guid = 11,
    eValueType_Block16 = 12,
    eValueType_StringA = 13,
    eValueType_StringW = 14,
    eValueType_Binary = 15,
    eValueType_Variant = 16,
    eValueType_Object = 17,
};
constexpr BYTE kValueTypeLast = eValueType_Object;

// The operations both collections share; dwKey is a key or a position.
struct IValueCollection : public IObjectBase
{
    // {D952F923-847F-48DB-B32A-DDAB0C92132E}
    static constexpr GUID kIid = {0xd952f923, 0x847f, 0x48db, {0xb3, 0x2a, 0xdd, 0xab, 0x0c, 0x92, 0x13, 0x2e}};

    virtual DWORD GetCount() = 0;
    virtual bool Exists(DWORD dwKey) = 0;
    // The value's data size; 0 when missing.
    virtual DWORD GetSize(DWORD dwKey) = 0;
    // The ValueType; 0 when missing.
    virtual BYTE GetType(DWORD dwKey) = 0;
    virtual bool Remove(DWORD dwKey) = 0;
    virtual bool RemoveAll() = 0;
    virtual bool GetConvertOnGet() = 0;
    virtual void SetConvertOnGet(bool bConvert) = 0;
    virtual bool GetCloneObjects() = 0;
    virtual void SetCloneObjects(bool bClone) = 0;

    // One reference in *ppObject; a clone when CloneObjects is on.
    virtual bool GetObjectRef(DWORD dwKey, IObjectBase** ppObject) = 0;
    // Clears *pValue, then copies (references followed).
    virtual bool GetVariant(DWORD dwKey, VARIANT* pValue) = 0;
    // *pdwSize = stored size, set even when the buffer then proves too small; a missing
    // buffer or a size of 0 fails at once.
    virtual bool GetBinaryEx(DWORD dwKey, void* pBuffer, DWORD cbBuffer, DWORD* pdwSize) = 0;
    virtual bool GetBinary(DWORD dwKey, void* pBuffer, DWORD cbBuffer) = 0;
    // Sizes in bytes; *pdwSize = 2 x length + 2, set even when the buffer is too small.
    virtual bool GetStringWEx(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer, DWORD* pdwSize) = 0;
    virtual bool GetStringW(DWORD dwKey, wchar_t* pszBuffer, DWORD cbBuffer) = 0;
    // *pdwSize = length + 1.
    virtual bool GetStringAEx(DWORD dwKey, char* pszBuffer, DWORD cbBuffer, DWORD* pdwSize) = 0;
    virtual bool GetStringA(DWORD dwKey, char* pszBuffer, DWORD cbBuffer) = 0;
    virtual bool GetBlock16(DWORD dwKey, KQBLOCK16* pValue) = 0;
    virtual bool GetGuid(DWORD dwKey, GUID* pValue) = 0;
    virtual bool GetDouble(DWORD dwKey, double* pValue) = 0;
    virtual bool GetUInt64(DWORD dwKey, ULONGLONG* pValue) = 0;
    virtual bool GetInt64(DWORD dwKey, LONGLONG* pValue) = 0;
    virtual bool GetDWord(DWORD dwKey, DWORD* pValue) = 0;
    virtual bool GetLong(DWORD dwKey, LONG* pValue) = 0;
    virtual bool GetWord(DWORD dwKey, WORD* pValue) = 0;
    virtual bool GetShort(DWORD dwKey, SHORT* pValue) = 0;
    virtual bool GetByte(DWORD dwKey, BYTE* pValue) = 0;
    virtual bool GetChar(DWORD dwKey, signed char* pValue) = 0;
    virtual bool GetBool(DWORD dwKey, bool* pValue) = 0;

    // The object must answer ISerialize to be saved; it is cloned when CloneObjects is on.
    virtual bool SetObjectRef(DWORD dwKey, IObjectBase* pObject) = 0;
    virtual bool SetVariant(DWORD dwKey, const VARIANT* pValue) = 0;
    // pData may be absent only when dwSize is 0.
    virtual bool SetBinary(DWORD dwKey, const void* pData, DWORD dwSize) = 0;
    virtual bool SetStringW(DWORD dwKey, const wchar_t* pszText) = 0;
    virtual bool SetStringA(DWORD dwKey, const char* pszText) = 0;
    virtual bool SetBlock16(DWORD dwKey, const KQBLOCK16* pValue) = 0;
    virtual bool SetGuid(DWORD dwKey, const GUID* pValue) = 0;
    virtual bool SetDouble(DWORD dwKey, double dValue) = 0;
    virtual bool SetUInt64(DWORD dwKey, ULONGLONG ullValue) = 0;
    virtual bool SetInt64(DWORD dwKey, LONGLONG llValue) = 0;
    virtual bool SetDWord(DWORD dwKey, DWORD dwValue) = 0;
    virtual bool SetLong(DWORD dwKey, LONG lValue) = 0;
    virtual bool SetWord(DWORD dwKey, WORD wValue) = 0;
    virtual bool SetShort(DWORD dwKey, SHORT sValue) = 0;
    virtual bool SetByte(DWORD dwKey, BYTE bValue) = 0;
    virtual bool SetChar(DWORD dwKey, signed char chValue) = 0;
    virtual bool SetBool(DWORD dwKey, bool bValue) = 0;
};

struct IKeyValueCollection : public IValueCollection
{
    // {9958D891-C319-4C6C-BEB9-F9BFB37EA493}, also the class id of CKeyValueCollectionImpl
    static constexpr GUID kIid = {0x9958d891, 0xc319, 0x4c6c, {0xbe, 0xb9, 0xf9, 0xbf, 0xb3, 0x7e, 0xa4, 0x93}};

    // The key at that position in ascending key order; false when dwIndex >= count.
    virtual bool GetKeyByIndex(DWORD dwIndex, DWORD* pdwKey) = 0;
};

// Positions 0 .. count - 1: a get or set at a position that does not exist fails, a set only
// replaces, Remove moves every later value down by one, and the Add operations append.
struct IIndexValueCollection : public IValueCollection
{
    // {740AB61D-8B4A-46CC-9D82-86F72E055477}, also the class id of CIndexValueCollectionImpl
    static constexpr GUID kIid = {0x740ab61d, 0x8b4a, 0x46cc, {0x9d, 0x82, 0x86, 0xf7, 0x2e, 0x05, 0x54, 0x77}};

    virtual bool AddObjectRef(IObjectBase* pObject) = 0;
    virtual bool AddVariant(const VARIANT* pValue) = 0;
    virtual bool AddBinary(const void* pData, DWORD dwSize) = 0;
    virtual bool AddStringW(const wchar_t* pszText) = 0;
    virtual bool AddStringA(const char* pszText) = 0;
    virtual bool AddBlock16(const KQBLOCK16* pValue) = 0;
    virtual bool AddGuid(const GUID* pValue) = 0;
    virtual bool AddDouble(double dValue) = 0;
    virtual bool AddUInt64(ULONGLONG ullValue) = 0;
    virtual bool AddInt64(LONGLONG llValue) = 0;
    virtual bool AddDWord(DWORD dwValue) = 0;
    virtual bool AddLong(LONG lValue) = 0;
    virtual bool AddWord(WORD wValue) = 0;
    virtual bool AddShort(SHORT sValue) = 0;
    virtual bool AddByte(BYTE bValue) = 0;
    virtual bool AddChar(signed char chValue) = 0;
    virtual bool AddBool(bool bValue) = 0;
};
