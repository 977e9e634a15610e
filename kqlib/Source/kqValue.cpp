#include "kqValue.h"

#include <utility>
#include <cstring>
#include <new>
#include "kqDummyArchive.h"
#include "kqObjectCreate.h"
#include "kqSerialize.h"
#include "kqStringConvert.h"

namespace {

// Integer width class: 1 for 8 bits up to 4 for 64 bits, 5 for Double, 0 for Bool.
int NumericRank(ValueType eType)
{
    switch (eType)
    {
    case eValueType_Bool:
        return 0;
    case eValueType_Char:
    case eValueType_Byte:
        return 1;
    case eValueType_Short:
    case eValueType_Word:
        return 2;
    case eValueType_Long:
    case eValueType_DWord:
        return 3;
    case eValueType_Int64:
    case eValueType_UInt64:
        return 4;
    case eValueType_Double:
        return 5;
    default:
        return -1;
    }
}

bool IsSignedType(ValueType eType)
{
    return eType == eValueType_Char || eType == eValueType_Short || eType == eValueType_Long ||
           eType == eValueType_Int64;
}

}  // namespace

bool CloneObject(IObjectBase* pObject, CSmartPtr<IObjectBase>& spClone)
{
    spClone = nullptr;
    CSmartPtr<IClone> spSource;
    if (!pObject || FAILED(spSource.QueryFrom(pObject)))
        return false;
    return spSource->Clone(spClone.Receive()) && spClone;
}

CValue::CValue()
{
    memset(&m_Fixed, 0, sizeof(m_Fixed));
    VariantInit(&m_Variant);
}

CValue::~CValue()
{
    VariantClear(&m_Variant);
}

DWORD CValue::FixedSize(BYTE bType)
{
    switch (bType)
    {
    case eValueType_Bool:
    case eValueType_Char:
    case eValueType_Byte:
        return 1;
    case eValueType_Short:
    case eValueType_Word:
        return 2;
    case eValueType_Long:
    case eValueType_DWord:
        return 4;
    case eValueType_Int64:
    case eValueType_UInt64:
    case eValueType_Double:
        return 8;
    case eValueType_Guid:
    case eValueType_Block16:
        return 16;
    default:
        return 0;
    }
}

bool CValue::Reset(BYTE bType)
{
    if (!IsValidType(bType))
        return false;
    memset(&m_Fixed, 0, sizeof(m_Fixed));
    std::string().swap(m_strAnsi);
    std::wstring().swap(m_strWide);
    m_Memory.Free();
    VariantClear(&m_Variant);
    m_spObject = nullptr;
    m_eType = static_cast<ValueType>(bType);
    return true;
}

DWORD CValue::GetSize() const
{
    if (DWORD dwFixed = FixedSize(m_eType))
        return dwFixed;
    switch (m_eType)
    {
    case eValueType_StringA:
        return static_cast<DWORD>(m_strAnsi.size() + 1);
    case eValueType_StringW:
        return static_cast<DWORD>((m_strWide.size() + 1) * sizeof(wchar_t));
    case eValueType_Binary:
        return m_Memory.GetSize();
    case eValueType_Variant:
    {
        CDummyArchive counter;
        return counter.WriteVariant(m_Variant) ? static_cast<DWORD>(counter.GetTotal()) : 0;
    }
    case eValueType_Object:
    {
        CSmartPtr<ISerialize> spSerialize;
        if (!m_spObject || FAILED(spSerialize.QueryFrom(m_spObject.Get())))
            return 0;
        ULONGLONG ullSize = spSerialize->GetSizeMax();
        return ullSize > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(ullSize);
    }
    default:
        return 0;
    }
}

void CValue::Swap(CValue& other) noexcept
{
    std::swap(m_eType, other.m_eType);
    std::swap(m_Fixed, other.m_Fixed);
    m_strAnsi.swap(other.m_strAnsi);
    m_strWide.swap(other.m_strWide);
    CMemory memory;
    memory.TakeOver(m_Memory);
    m_Memory.TakeOver(other.m_Memory);
    other.m_Memory.TakeOver(memory);
    // A VARIANT owns what it points to; exchanging the bits moves that ownership along.
    VARIANT variant = m_Variant;
    m_Variant = other.m_Variant;
    other.m_Variant = variant;
    m_spObject.Swap(other.m_spObject);
}

bool CValue::CopyFrom(const CValue& other, bool bCloneObject)
{
    if (&other == this)
        return true;
    try
    {
        Reset(other.m_eType);
        memcpy(&m_Fixed, &other.m_Fixed, sizeof(m_Fixed));
        switch (m_eType)
        {
        case eValueType_StringA:
            m_strAnsi = other.m_strAnsi;
            break;
        case eValueType_StringW:
            m_strWide = other.m_strWide;
            break;
        case eValueType_Binary:
            if (other.m_Memory.GetSize() && !m_Memory.SetData(eAllocKind_RuntimeHeap, other.m_Memory.GetData(),
                                                              other.m_Memory.GetSize()))
                return Reset(eValueType_Empty), false;
            break;
        case eValueType_Variant:
            if (FAILED(VariantCopyInd(&m_Variant, const_cast<VARIANT*>(&other.m_Variant))))
                return Reset(eValueType_Empty), false;
            break;
        case eValueType_Object:
            if (bCloneObject && other.m_spObject)
            {
                if (!CloneObject(other.m_spObject.Get(), m_spObject))
                    return Reset(eValueType_Empty), false;
            }
            else
                m_spObject = other.m_spObject;
            break;
        default:
            break;
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        Reset(eValueType_Empty);
        return false;
    }
}

bool CValue::ConvertTo(ValueType eType)
{
    if (eType == m_eType)
        return true;
    if (m_eType == eValueType_StringA && eType == eValueType_StringW)
    {
        std::wstring strWide;
        if (!ConvertToWide(m_strAnsi.data(), m_strAnsi.size(), strWide))
            return false;
        Reset(eType);
        m_strWide.swap(strWide);
        return true;
    }
    if (m_eType == eValueType_StringW && eType == eValueType_StringA)
    {
        std::string strAnsi;
        if (!ConvertToAnsi(m_strWide.data(), m_strWide.size(), strAnsi))
            return false;
        Reset(eType);
        m_strAnsi.swap(strAnsi);
        return true;
    }
    int iFrom = NumericRank(m_eType);
    int iTo = NumericRank(eType);
    if (iFrom < 0 || iTo < 0)
        return false;
    // Bool widens to every number; numbers never narrow, and a Double only tests against 0.
    if (iFrom != 0 && iTo != 0 && iTo < iFrom)
        return false;
    if (iFrom == 5 && iTo != 0)
        return false;

    bool bSigned = IsSignedType(m_eType);
    LONGLONG llValue = 0;
    switch (m_eType)
    {
    case eValueType_Bool:
        llValue = m_Fixed.bBool ? 1 : 0;
        break;
    case eValueType_Char:
        llValue = m_Fixed.chChar;
        break;
    case eValueType_Byte:
        llValue = m_Fixed.bByte;
        break;
    case eValueType_Short:
        llValue = m_Fixed.sShort;
        break;
    case eValueType_Word:
        llValue = m_Fixed.wWord;
        break;
    case eValueType_Long:
        llValue = m_Fixed.lLong;
        break;
    case eValueType_DWord:
        llValue = m_Fixed.dwDWord;
        break;
    case eValueType_Int64:
    case eValueType_UInt64:
        llValue = m_Fixed.llInt64;
        break;
    default:
        break;
    }
    ULONGLONG ullValue = static_cast<ULONGLONG>(llValue);
    bool bTrue;
    double dValue;
    if (m_eType == eValueType_Double)
    {
        bTrue = m_Fixed.dDouble > 0.0;
        dValue = m_Fixed.dDouble;
    }
    else
    {
        bTrue = bSigned ? llValue > 0 : ullValue != 0;
        dValue = bSigned ? static_cast<double>(llValue) : static_cast<double>(ullValue);
    }

    Reset(eType);
    switch (eType)
    {
    case eValueType_Bool:
        m_Fixed.bBool = bTrue;
        break;
    case eValueType_Double:
        m_Fixed.dDouble = dValue;
        break;
    default:
        // The same bits, sign- or zero-extended above; the target is never narrower.
        m_Fixed.ullUInt64 = 0;
        memcpy(&m_Fixed, &ullValue, FixedSize(eType));
        break;
    }
    return true;
}

bool CValue::Save(CArchive& archive) const
{
    ULONGLONG ullStart = 0;
    if (!archive.GetPosition(&ullStart))
        return false;
    if (!archive.WriteByte(m_eType))
        return false;
    if (!SavePayload(archive))
    {
        archive.SetPosition(ullStart);
        return false;
    }
    return true;
}

bool CValue::SavePayload(CArchive& archive) const
{
    switch (m_eType)
    {
    case eValueType_Empty:
        return true;
    case eValueType_Bool:
        return archive.WriteBool(m_Fixed.bBool);
    case eValueType_Char:
        return archive.WriteChar(m_Fixed.chChar);
    case eValueType_Byte:
        return archive.WriteByte(m_Fixed.bByte);
    case eValueType_Short:
        return archive.WriteShort(m_Fixed.sShort);
    case eValueType_Word:
        return archive.WriteWord(m_Fixed.wWord);
    case eValueType_Long:
        return archive.WriteLong(m_Fixed.lLong);
    case eValueType_DWord:
        return archive.WriteDWord(m_Fixed.dwDWord);
    case eValueType_Int64:
        return archive.WriteLongLong(m_Fixed.llInt64);
    case eValueType_UInt64:
        return archive.WriteULongLong(m_Fixed.ullUInt64);
    case eValueType_Double:
        return archive.WriteDouble(m_Fixed.dDouble);
    case eValueType_Guid:
        return archive.WriteGuid(m_Fixed.guid);
    case eValueType_Block16:
        return archive.WriteBlock16(m_Fixed.block);
    case eValueType_StringA:
        return archive.WriteStringA(m_strAnsi.c_str());
    case eValueType_StringW:
        return archive.WriteStringW(m_strWide.c_str());
    case eValueType_Binary:
        return archive.WriteBinary(m_Memory);
    case eValueType_Variant:
        return archive.WriteVariant(m_Variant);
    case eValueType_Object:
    {
        CSmartPtr<ISerialize> spSerialize;
        GUID clsid;
        if (!m_spObject || FAILED(spSerialize.QueryFrom(m_spObject.Get())) || !spSerialize->GetClassID(&clsid))
            return false;
        ULONGLONG ullStart = 0;
        if (!archive.GetPosition(&ullStart) || !archive.WriteBinary(&clsid, sizeof(clsid)))
            return false;
        if (!archive.WriteObject(spSerialize.Get()))
        {
            archive.SetPosition(ullStart);
            return false;
        }
        return true;
    }
    default:
        return false;
    }
}

bool CValue::Load(CArchive& archive)
{
    Reset(eValueType_Empty);
    ULONGLONG ullStart = 0;
    BYTE bType = 0;
    if (!archive.GetPosition(&ullStart) || !archive.ReadByte(&bType))
        return false;
    if (!Reset(bType) || !LoadPayload(archive))
    {
        Reset(eValueType_Empty);
        archive.SetPosition(ullStart);
        return false;
    }
    return true;
}

bool CValue::LoadPayload(CArchive& archive)
{
    switch (m_eType)
    {
    case eValueType_Empty:
        return true;
    case eValueType_Bool:
        return archive.ReadBool(&m_Fixed.bBool);
    case eValueType_Char:
        return archive.ReadChar(&m_Fixed.chChar);
    case eValueType_Byte:
        return archive.ReadByte(&m_Fixed.bByte);
    case eValueType_Short:
        return archive.ReadShort(&m_Fixed.sShort);
    case eValueType_Word:
        return archive.ReadWord(&m_Fixed.wWord);
    case eValueType_Long:
        return archive.ReadLong(&m_Fixed.lLong);
    case eValueType_DWord:
        return archive.ReadDWord(&m_Fixed.dwDWord);
    case eValueType_Int64:
        return archive.ReadLongLong(&m_Fixed.llInt64);
    case eValueType_UInt64:
        return archive.ReadULongLong(&m_Fixed.ullUInt64);
    case eValueType_Double:
        return archive.ReadDouble(&m_Fixed.dDouble);
    case eValueType_Guid:
        return archive.ReadGuid(&m_Fixed.guid);
    case eValueType_Block16:
        return archive.ReadBlock16(&m_Fixed.block);
    case eValueType_StringA:
        return archive.ReadStringA(m_strAnsi);
    case eValueType_StringW:
        return archive.ReadStringW(m_strWide);
    case eValueType_Binary:
        return archive.ReadBinary(m_Memory);
    case eValueType_Variant:
        return archive.ReadVariant(&m_Variant);
    case eValueType_Object:
    {
        GUID clsid;
        DWORD dwSize = 0;
        ULONGLONG ullStart = 0;
        if (!archive.GetPosition(&ullStart) || !archive.ReadBinary(&clsid, sizeof(clsid), &dwSize))
            return false;
        CSmartPtr<ISerialize> spSerialize;
        if (dwSize != sizeof(clsid) ||
            FAILED(CreateObjectByClassId(clsid, ISerialize::kIid, spSerialize.ReceiveVoid())) || !spSerialize ||
            !archive.ReadObject(spSerialize.Get()) || FAILED(m_spObject.QueryFrom(spSerialize.Get())))
        {
            archive.SetPosition(ullStart);
            return false;
        }
        return true;
    }
    default:
        return false;
    }
}
