// One typed value of a collection: the type byte and its storage. Changing the type releases
// the old storage (strings and memory freed, the VARIANT cleared, the object released) and
// creates empty storage of the new type. Not locked: the collection locks.
#pragma once
#include <string>
#include "kqArchive.h"
#include "kqMemory.h"
#include "kqSmartPtr.h"
#include "kqValueCollection.h"

class CValue
{
public:
    CValue();
    ~CValue();
    CValue(const CValue&) = delete;
    CValue& operator=(const CValue&) = delete;

    static bool IsValidType(BYTE bType) { return bType <= kValueTypeLast; }
    // The storage size of a fixed-size type (Bool to Block16); 0 for the others.
    static DWORD FixedSize(BYTE bType);

    ValueType GetType() const { return m_eType; }
    // Empty storage of that type; false for a number that is not a type.
    bool Reset(BYTE bType);
    // The data size a collection reports for the value.
    DWORD GetSize() const;

    // Storage of the fixed-size types.
    void* Fixed() { return &m_Fixed; }
    const void* Fixed() const { return &m_Fixed; }
    std::string& Ansi() { return m_strAnsi; }
    std::wstring& Wide() { return m_strWide; }
    CMemory& Memory() { return m_Memory; }
    VARIANT& Variant() { return m_Variant; }
    CSmartPtr<IObjectBase>& Object() { return m_spObject; }

    // A copy of the other value; an object is shared, or cloned when bCloneObject is set.
    bool CopyFrom(const CValue& other, bool bCloneObject);
    // Exchanges the two values without allocating anything.
    void Swap(CValue& other) noexcept;
    // Converts in place where the conversion table allows it; false (value unchanged) otherwise.
    bool ConvertTo(ValueType eType);

    // The type as a byte item, then the payload item(s).
    bool Save(CArchive& archive) const;
    // The type byte and the payload; on failure the value is left Empty.
    bool Load(CArchive& archive);

private:
    bool SavePayload(CArchive& archive) const;
    bool LoadPayload(CArchive& archive);

    union FixedStorage
    {
        bool bBool;
        signed char chChar;
        BYTE bByte;
        SHORT sShort;
        WORD wWord;
        LONG lLong;
        DWORD dwDWord;
        LONGLONG llInt64;
        ULONGLONG ullUInt64;
        double dDouble;
        GUID guid;
        KQBLOCK16 block;
    };

    ValueType m_eType = eValueType_Empty;
    FixedStorage m_Fixed;
    std::string m_strAnsi;
    std::wstring m_strWide;
    CMemory m_Memory;
    VARIANT m_Variant;
    CSmartPtr<IObjectBase> m_spObject;
};

// An object cloned through its IClone into *ppClone; false when it cannot be cloned.
bool CloneObject(IObjectBase* pObject, CSmartPtr<IObjectBase>& spClone);
