// The typed archive: a byte sequence of self-describing items, each a one-byte tag followed by
// its payload (fixed-size items: the value; variable-size items: a u32 length and that many
// bytes). All numbers are little-endian in the layout of the 32-bit x86 machine.
//
// CArchive writes items in store mode and reads them in load mode over a byte store that a
// derived class provides (memory, stream or a mere counter). Every failed item leaves the
// store position where the item began, so a failed read consumes nothing and a caller may try
// another type at the same place. Lengths read from the store are checked against the bytes
// the store still holds before anything is allocated for them.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "kqByteStream.h"
#include "kqMemory.h"

struct ISerialize;

enum ArchiveTag : BYTE
{
    eArchiveTag_Byte = 1,
    eArchiveTag_Word = 2,
    eArchiveTag_DWord = 3,
    eArchiveTag_ULongLong = 4,
    eArchiveTag_Double = 5,
    eArchiveTag_Long = 6,
    eArchiveTag_StringA = 7,
    eArchiveTag_StringW = 8,
    eArchiveTag_Binary = 9,
    eArchiveTag_Bool = 10,
    eArchiveTag_Variant = 11,
    eArchiveTag_Char = 12,
    eArchiveTag_Short = 13,
    eArchiveTag_LongLong = 14,
    eArchiveTag_Guid = 15,
    eArchiveTag_Block16 = 16,
};

enum ArchiveMode
{
    eArchiveMode_Load = 1,
    eArchiveMode_Store = 2,
};

// An opaque 16-byte record, kept as four 32-bit words.
struct KQBLOCK16
{
    DWORD adwData[4];
};

class CArchive
{
public:
    // Deepest nesting of objects inside objects (window items) that a load or save accepts.
    static constexpr int kMaxObjectDepth = 32;
    // Deepest nesting of VARIANT arrays inside VARIANT arrays that a load accepts.
    static constexpr int kMaxVariantDepth = 16;

    explicit CArchive(ArchiveMode eMode) : m_eMode(eMode) {}
    virtual ~CArchive() = default;
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    // The byte store. A stream over the next dwLength bytes; the position moves past them.
    // For writing, the store is grown to cover them first.
    virtual bool OpenWindow(DWORD dwLength, bool bForWriting, IByteStream** ppStream) = 0;
    virtual bool ReadBytes(void* pBuffer, DWORD dwCount) = 0;
    virtual bool WriteBytes(const void* pData, DWORD dwCount) = 0;
    virtual bool GetPosition(ULONGLONG* pullPosition) = 0;
    virtual bool SetPosition(ULONGLONG ullPosition) = 0;
    // Bytes that can still be read from the current position.
    virtual ULONGLONG GetAvailable() = 0;
    // True for a store that keeps nothing and only counts.
    virtual bool IsCountingOnly() const { return false; }

    ArchiveMode GetMode() const { return m_eMode; }
    bool IsLoading() const { return m_eMode == eArchiveMode_Load; }
    bool IsStoring() const { return m_eMode == eArchiveMode_Store; }
    // Bytes of all items read or written so far.
    ULONGLONG GetTotal() const { return m_ullTotal; }
    // The store position of the archive's first operation (0 before it).
    ULONGLONG GetStart() const { return m_ullStart; }

    // Store mode.
    bool WriteByte(BYTE bValue);
    bool WriteWord(WORD wValue);
    bool WriteDWord(DWORD dwValue);
    bool WriteULongLong(ULONGLONG ullValue);
    bool WriteDouble(double dValue);
    bool WriteLong(LONG lValue);
    bool WriteBool(bool bValue);
    bool WriteChar(signed char chValue);
    bool WriteShort(SHORT sValue);
    bool WriteLongLong(LONGLONG llValue);
    bool WriteGuid(const GUID& guid);
    bool WriteBlock16(const KQBLOCK16& block);
    // nullptr is written as an empty string.
    bool WriteStringA(const char* pszText);
    bool WriteStringW(const wchar_t* pszText);
    bool WriteBinary(const void* pData, DWORD dwSize);
    bool WriteBinary(const CMemory& memory);
    // Refuses what the format cannot carry (see kqArchive.cpp).
    bool WriteVariant(const VARIANT& value);
    // A binary item whose body is the object's saved form, written through a window of the
    // length the object announces (its GetSizeMax).
    bool WriteObject(ISerialize* pObject);

    // Load mode.
    bool ReadByte(BYTE* pbValue);
    bool ReadWord(WORD* pwValue);
    bool ReadDWord(DWORD* pdwValue);
    bool ReadULongLong(ULONGLONG* pullValue);
    bool ReadDouble(double* pdValue);
    bool ReadLong(LONG* plValue);
    bool ReadBool(bool* pbValue);
    bool ReadChar(signed char* pchValue);
    bool ReadShort(SHORT* psValue);
    bool ReadLongLong(LONGLONG* pllValue);
    bool ReadGuid(GUID* pGuid);
    bool ReadBlock16(KQBLOCK16* pBlock);
    // Into a buffer of cbBuffer bytes; an item longer than the buffer fails unconsumed.
    bool ReadStringA(char* pszBuffer, DWORD cbBuffer);
    bool ReadStringW(wchar_t* pszBuffer, DWORD cbBuffer);
    // Sized from the item; the text ends at its first terminator.
    bool ReadStringA(std::string& strText);
    bool ReadStringW(std::wstring& strText);
    // The stored length in *pdwSize (when given).
    bool ReadBinary(void* pBuffer, DWORD cbBuffer, DWORD* pdwSize);
    // Resizes the memory to the stored length (an empty block frees it).
    bool ReadBinary(CMemory& memory);
    // Clears *pValue first; on failure it stays VT_EMPTY.
    bool ReadVariant(VARIANT* pValue);
    // Lets the object load itself from a window on the item's body.
    bool ReadObject(ISerialize* pObject);

    // The payload length of the next item (a fixed tag's size, a variable item's u32 length)
    // without consuming it; the tag is not compared with anything.
    bool PeekLength(DWORD* pdwLength);
    // Steps over the next item whatever its tag.
    bool SkipItem();

protected:
    // Bytes available for a payload: what the store holds beyond the header.
    bool FitsStore(ULONGLONG ullNeeded);

private:
    bool BeginItem(ArchiveMode eMode, ULONGLONG* pullItemStart);
    bool FailItem(ULONGLONG ullItemStart);
    bool WriteFixed(ArchiveTag eTag, const void* pData, DWORD dwSize);
    bool ReadFixed(ArchiveTag eTag, void* pBuffer, DWORD dwSize);
    bool WriteVariable(ArchiveTag eTag, const void* pData, DWORD dwLength);
    // Reads tag and length of a variable item; the length must not exceed cbMax nor what the
    // store still holds.
    bool ReadVariableHeader(ArchiveTag eTag, DWORD cbMax, DWORD* pdwLength);
    bool SkipBytes(ULONGLONG ullCount);

    ArchiveMode m_eMode;
    bool m_bStarted = false;
    ULONGLONG m_ullStart = 0;
    ULONGLONG m_ullTotal = 0;
};

// The payload size of a fixed-size tag; 0 for a variable one, -1 for an invalid tag.
int GetArchiveTagSize(BYTE bTag);
