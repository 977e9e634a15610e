#include "kqArchive.h"
#include <cstring>
#include <new>
#include <vector>
#include "kqDummyArchive.h"
#include "kqSerialize.h"
#include "kqSmartPtr.h"

namespace {

constexpr DWORD kItemHeaderSize = 5;  // tag and u32 length

// How deep the current thread is inside object window items; stops hostile or cyclic nesting.
thread_local int t_iObjectDepth = 0;

class CObjectDepthGuard
{
public:
    CObjectDepthGuard() { ++t_iObjectDepth; }
    ~CObjectDepthGuard() { --t_iObjectDepth; }
    bool TooDeep() const { return t_iObjectDepth > CArchive::kMaxObjectDepth; }
    CObjectDepthGuard(const CObjectDepthGuard&) = delete;
    CObjectDepthGuard& operator=(const CObjectDepthGuard&) = delete;
};

// ---- VARIANT bodies: a VARTYPE, then the data (no tag, no length). ----

constexpr VARTYPE kArrayOfVariant = VT_ARRAY | VT_VARIANT;
constexpr VARTYPE kArrayOfByte = VT_ARRAY | VT_UI1;

// Size of the data of a fixed-size VARTYPE; 0 for the others.
DWORD FixedVariantSize(VARTYPE vt)
{
    switch (vt)
    {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
        return 2;
    case VT_I4:
    case VT_R4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return 4;
    case VT_R8:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
        return 8;
    case VT_DECIMAL:
        return 16;
    default:
        return 0;
    }
}

// Where the data of a fixed-size VARTYPE lives inside the VARIANT.
void* FixedVariantData(VARIANT& value)
{
    // A DECIMAL overlays the whole first 16 bytes of the VARIANT, its type field included.
    if (value.vt == VT_DECIMAL)
        return &value.decVal;
    return &value.llVal;
}

// One dimension, lower bound 0; the element count in *pdwCount.
bool GetVectorBounds(SAFEARRAY* pArray, DWORD* pdwCount)
{
    if (!pArray || SafeArrayGetDim(pArray) != 1)
        return false;
    LONG lLower = 0, lUpper = 0;
    if (FAILED(SafeArrayGetLBound(pArray, 1, &lLower)) || FAILED(SafeArrayGetUBound(pArray, 1, &lUpper)))
        return false;
    if (lLower != 0 || lUpper < -1)
        return false;
    *pdwCount = static_cast<DWORD>(lUpper + 1);
    return true;
}

bool IsWritableVariant(const VARIANT& value, int iDepth)
{
    if (iDepth > CArchive::kMaxVariantDepth)
        return false;
    VARTYPE vt = value.vt;
    if (vt == VT_EMPTY || FixedVariantSize(vt) != 0)
        return true;
    DWORD dwCount = 0;
    switch (vt)
    {
    case VT_BSTR:
        return true;
    case VT_DISPATCH:
    case VT_UNKNOWN:
    {
        if (!value.punkVal)
            return false;
        IPersistStream* pPersist = nullptr;
        if (FAILED(value.punkVal->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&pPersist))) ||
            !pPersist)
            return false;
        pPersist->Release();
        return true;
    }
    case kArrayOfByte:
        return GetVectorBounds(value.parray, &dwCount);
    case kArrayOfVariant:
    {
        if (!GetVectorBounds(value.parray, &dwCount))
            return false;
        VARIANT* pElements = nullptr;
        if (FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&pElements))))
            return false;
        bool bOk = true;
        for (DWORD i = 0; bOk && i < dwCount; ++i)
            bOk = IsWritableVariant(pElements[i], iDepth + 1);
        SafeArrayUnaccessData(value.parray);
        return bOk;
    }
    default:
        // VT_BYREF, VT_VECTOR, other arrays and every other type.
        return false;
    }
}

// The standard OLE save of an object (class id, then its own data) into memory.
bool SaveOleObject(IUnknown* pUnknown, std::vector<BYTE>& vecBytes)
{
    IPersistStream* pPersist = nullptr;
    if (FAILED(pUnknown->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&pPersist))) || !pPersist)
        return false;
    IStream* pStream = nullptr;
    bool bOk = false;
    if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &pStream)) && pStream)
    {
        ULARGE_INTEGER uliEnd = {};
        LARGE_INTEGER liZero = {};
        HGLOBAL hGlobal = nullptr;
        if (SUCCEEDED(OleSaveToStream(pPersist, pStream)) &&
            SUCCEEDED(pStream->Seek(liZero, STREAM_SEEK_CUR, &uliEnd)) && uliEnd.QuadPart <= 0x7FFFFFFF &&
            SUCCEEDED(GetHGlobalFromStream(pStream, &hGlobal)))
        {
            const BYTE* pBytes = static_cast<const BYTE*>(GlobalLock(hGlobal));
            if (pBytes || uliEnd.QuadPart == 0)
            {
                try
                {
                    vecBytes.assign(pBytes, pBytes + static_cast<SIZE_T>(uliEnd.QuadPart));
                    bOk = true;
                }
                catch (const std::bad_alloc&)
                {
                }
                if (pBytes)
                    GlobalUnlock(hGlobal);
            }
        }
        pStream->Release();
    }
    pPersist->Release();
    return bOk;
}

// Writes the body through the archive's raw byte store, adding the bytes to dwCount.
bool WriteVariantBody(CArchive& archive, const VARIANT& value, DWORD& dwCount)
{
    auto put = [&](const void* pData, DWORD cb) {
        if (!archive.WriteBytes(pData, cb))
            return false;
        dwCount += cb;
        return true;
    };
    VARTYPE vt = value.vt;
    if (!put(&vt, sizeof(vt)))
        return false;
    if (vt == VT_EMPTY)
        return true;
    if (DWORD cbFixed = FixedVariantSize(vt))
    {
        VARIANT copy = value;  // a plain copy of the bits, nothing owned
        return put(FixedVariantData(copy), cbFixed);
    }
    switch (vt)
    {
    case VT_BSTR:
    {
        DWORD cbText = value.bstrVal ? SysStringByteLen(value.bstrVal) : 0;
        return put(&cbText, sizeof(cbText)) && put(value.bstrVal, cbText);
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
    {
        std::vector<BYTE> vecBytes;
        if (!SaveOleObject(value.punkVal, vecBytes))
            return false;
        DWORD cbObject = static_cast<DWORD>(vecBytes.size());
        return put(&cbObject, sizeof(cbObject)) && put(vecBytes.data(), cbObject);
    }
    case kArrayOfByte:
    {
        DWORD dwElements = 0;
        void* pData = nullptr;
        if (!GetVectorBounds(value.parray, &dwElements) || !put(&dwElements, sizeof(dwElements)))
            return false;
        if (dwElements == 0)
            return true;
        if (FAILED(SafeArrayAccessData(value.parray, &pData)))
            return false;
        bool bOk = put(pData, dwElements);
        SafeArrayUnaccessData(value.parray);
        return bOk;
    }
    case kArrayOfVariant:
    {
        DWORD dwElements = 0;
        VARIANT* pElements = nullptr;
        if (!GetVectorBounds(value.parray, &dwElements) || !put(&dwElements, sizeof(dwElements)))
            return false;
        if (dwElements == 0)
            return true;
        if (FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&pElements))))
            return false;
        bool bOk = true;
        for (DWORD i = 0; bOk && i < dwElements; ++i)
            bOk = WriteVariantBody(archive, pElements[i], dwCount);
        SafeArrayUnaccessData(value.parray);
        return bOk;
    }
    default:
        return false;
    }
}

// Reads a body of exactly the announced length from the archive's raw byte store.
class CVariantBodyReader
{
public:
    CVariantBodyReader(CArchive& archive, DWORD dwLength) : m_Archive(archive), m_dwLeft(dwLength) {}

    bool AllConsumed() const { return m_dwLeft == 0; }

    // Fills *pValue (VT_EMPTY on entry); on failure it may hold a partial value to clear.
    bool Read(VARIANT* pValue, int iDepth)
    {
        if (iDepth > CArchive::kMaxVariantDepth)
            return false;
        VARTYPE vt = VT_EMPTY;
        if (!Take(&vt, sizeof(vt)))
            return false;
        if (vt == VT_EMPTY)
            return true;
        if (DWORD cbFixed = FixedVariantSize(vt))
        {
            VARIANT value;
            VariantInit(&value);
            value.vt = vt;
            if (!Take(FixedVariantData(value), cbFixed))
                return false;
            value.vt = vt;  // a DECIMAL's bytes overlay the type field
            *pValue = value;
            return true;
        }
        DWORD dwCount = 0;
        switch (vt)
        {
        case VT_BSTR:
        {
            if (!Take(&dwCount, sizeof(dwCount)) || dwCount > m_dwLeft)
                return false;
            BSTR bstr = SysAllocStringByteLen(nullptr, dwCount);
            if (!bstr)
                return false;
            pValue->vt = VT_BSTR;
            pValue->bstrVal = bstr;
            return Take(bstr, dwCount);
        }
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return ReadObject(vt, pValue);
        case kArrayOfByte:
        {
            if (!Take(&dwCount, sizeof(dwCount)) || dwCount > m_dwLeft)
                return false;
            SAFEARRAY* pArray = SafeArrayCreateVector(VT_UI1, 0, dwCount);
            if (!pArray)
                return false;
            pValue->vt = kArrayOfByte;
            pValue->parray = pArray;
            if (dwCount == 0)
                return true;
            void* pData = nullptr;
            if (FAILED(SafeArrayAccessData(pArray, &pData)))
                return false;
            bool bOk = Take(pData, dwCount);
            SafeArrayUnaccessData(pArray);
            return bOk;
        }
        case kArrayOfVariant:
        {
            // Every element takes at least its two-byte type, and the elements' total size must
            // not overflow the size the array allocates.
            if (!Take(&dwCount, sizeof(dwCount)) || dwCount > m_dwLeft / sizeof(VARTYPE) ||
                dwCount > static_cast<DWORD>(0x7FFFFFFF / sizeof(VARIANT)))
                return false;
            SAFEARRAY* pArray = SafeArrayCreateVector(VT_VARIANT, 0, dwCount);
            if (!pArray)
                return false;
            pValue->vt = kArrayOfVariant;
            pValue->parray = pArray;
            if (dwCount == 0)
                return true;
            VARIANT* pElements = nullptr;
            if (FAILED(SafeArrayAccessData(pArray, reinterpret_cast<void**>(&pElements))))
                return false;
            bool bOk = true;
            for (DWORD i = 0; bOk && i < dwCount; ++i)
                bOk = Read(&pElements[i], iDepth + 1);
            SafeArrayUnaccessData(pArray);
            return bOk;
        }
        default:
            return false;
        }
    }

private:
    bool Take(void* pBuffer, DWORD cb)
    {
        if (cb > m_dwLeft || !m_Archive.ReadBytes(pBuffer, cb))
            return false;
        m_dwLeft -= cb;
        return true;
    }

    // The standard OLE load from an in-memory copy of the object's bytes.
    bool ReadObject(VARTYPE vt, VARIANT* pValue)
    {
        DWORD cbObject = 0;
        if (!Take(&cbObject, sizeof(cbObject)) || cbObject > m_dwLeft)
            return false;
        HGLOBAL hGlobal = GlobalAlloc(GMEM_MOVEABLE, cbObject ? cbObject : 1);
        if (!hGlobal)
            return false;
        void* pBytes = GlobalLock(hGlobal);
        bool bRead = pBytes && Take(pBytes, cbObject);
        if (pBytes)
            GlobalUnlock(hGlobal);
        if (!bRead)
        {
            GlobalFree(hGlobal);
            return false;
        }
        IStream* pStream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(hGlobal, TRUE, &pStream)) || !pStream)
        {
            GlobalFree(hGlobal);
            return false;
        }
        // The stream's size is that of the global block, which may be larger than cbObject.
        ULARGE_INTEGER uliSize;
        uliSize.QuadPart = cbObject;
        pStream->SetSize(uliSize);
        void* pObject = nullptr;
        HRESULT hr = OleLoadFromStream(pStream, vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &pObject);
        pStream->Release();
        if (FAILED(hr) || !pObject)
            return false;
        pValue->vt = vt;
        pValue->punkVal = static_cast<IUnknown*>(pObject);
        return true;
    }

    CArchive& m_Archive;
    DWORD m_dwLeft;
};

}  // namespace

int GetArchiveTagSize(BYTE bTag)
{
    switch (bTag)
    {
    case eArchiveTag_Byte:
    case eArchiveTag_Bool:
    case eArchiveTag_Char:
        return 1;
    case eArchiveTag_Word:
    case eArchiveTag_Short:
        return 2;
    case eArchiveTag_DWord:
    case eArchiveTag_Long:
        return 4;
    case eArchiveTag_ULongLong:
    case eArchiveTag_Double:
    case eArchiveTag_LongLong:
        return 8;
    case eArchiveTag_Guid:
    case eArchiveTag_Block16:
        return 16;
    case eArchiveTag_StringA:
    case eArchiveTag_StringW:
    case eArchiveTag_Binary:
    case eArchiveTag_Variant:
        return 0;
    default:
        return -1;
    }
}

bool CArchive::BeginItem(ArchiveMode eMode, ULONGLONG* pullItemStart)
{
    if (m_eMode != eMode)
        return false;
    if (!GetPosition(pullItemStart))
        return false;
    if (!m_bStarted)
    {
        m_bStarted = true;
        m_ullStart = *pullItemStart;
    }
    return true;
}

bool CArchive::FailItem(ULONGLONG ullItemStart)
{
    SetPosition(ullItemStart);
    return false;
}

bool CArchive::FitsStore(ULONGLONG ullNeeded)
{
    return ullNeeded <= GetAvailable();
}

bool CArchive::WriteFixed(ArchiveTag eTag, const void* pData, DWORD dwSize)
{
    ULONGLONG ullItemStart = 0;
    if (!BeginItem(eArchiveMode_Store, &ullItemStart))
        return false;
    BYTE abItem[1 + 16];
    abItem[0] = eTag;
    memcpy(abItem + 1, pData, dwSize);
    if (!WriteBytes(abItem, 1 + dwSize))
        return FailItem(ullItemStart);
    m_ullTotal += 1 + dwSize;
    return true;
}

bool CArchive::ReadFixed(ArchiveTag eTag, void* pBuffer, DWORD dwSize)
{
    ULONGLONG ullItemStart = 0;
    if (!pBuffer || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    BYTE abItem[1 + 16];
    if (!ReadBytes(abItem, 1))
        return FailItem(ullItemStart);
    if (abItem[0] != eTag || !ReadBytes(abItem + 1, dwSize))
        return FailItem(ullItemStart);
    memcpy(pBuffer, abItem + 1, dwSize);
    m_ullTotal += 1 + dwSize;
    return true;
}

bool CArchive::WriteVariable(ArchiveTag eTag, const void* pData, DWORD dwLength)
{
    ULONGLONG ullItemStart = 0;
    if ((!pData && dwLength) || !BeginItem(eArchiveMode_Store, &ullItemStart))
        return false;
    BYTE abHeader[kItemHeaderSize];
    abHeader[0] = eTag;
    memcpy(abHeader + 1, &dwLength, sizeof(dwLength));
    if (!WriteBytes(abHeader, kItemHeaderSize) || (dwLength && !WriteBytes(pData, dwLength)))
        return FailItem(ullItemStart);
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadVariableHeader(ArchiveTag eTag, DWORD cbMax, DWORD* pdwLength)
{
    BYTE abHeader[kItemHeaderSize];
    if (!ReadBytes(abHeader, 1) || abHeader[0] != eTag || !ReadBytes(abHeader + 1, sizeof(DWORD)))
        return false;
    DWORD dwLength = 0;
    memcpy(&dwLength, abHeader + 1, sizeof(dwLength));
    if (dwLength > cbMax || !FitsStore(dwLength))
        return false;
    *pdwLength = dwLength;
    return true;
}

bool CArchive::WriteByte(BYTE bValue) { return WriteFixed(eArchiveTag_Byte, &bValue, 1); }
bool CArchive::WriteWord(WORD wValue) { return WriteFixed(eArchiveTag_Word, &wValue, 2); }
bool CArchive::WriteDWord(DWORD dwValue) { return WriteFixed(eArchiveTag_DWord, &dwValue, 4); }
bool CArchive::WriteULongLong(ULONGLONG ullValue) { return WriteFixed(eArchiveTag_ULongLong, &ullValue, 8); }
bool CArchive::WriteDouble(double dValue) { return WriteFixed(eArchiveTag_Double, &dValue, 8); }
bool CArchive::WriteLong(LONG lValue) { return WriteFixed(eArchiveTag_Long, &lValue, 4); }
bool CArchive::WriteChar(signed char chValue) { return WriteFixed(eArchiveTag_Char, &chValue, 1); }
bool CArchive::WriteShort(SHORT sValue) { return WriteFixed(eArchiveTag_Short, &sValue, 2); }
bool CArchive::WriteLongLong(LONGLONG llValue) { return WriteFixed(eArchiveTag_LongLong, &llValue, 8); }
bool CArchive::WriteGuid(const GUID& guid) { return WriteFixed(eArchiveTag_Guid, &guid, 16); }
bool CArchive::WriteBlock16(const KQBLOCK16& block) { return WriteFixed(eArchiveTag_Block16, &block, 16); }

bool CArchive::WriteBool(bool bValue)
{
    BYTE bByte = bValue ? 1 : 0;
    return WriteFixed(eArchiveTag_Bool, &bByte, 1);
}

bool CArchive::ReadByte(BYTE* pbValue) { return ReadFixed(eArchiveTag_Byte, pbValue, 1); }
bool CArchive::ReadWord(WORD* pwValue) { return ReadFixed(eArchiveTag_Word, pwValue, 2); }
bool CArchive::ReadDWord(DWORD* pdwValue) { return ReadFixed(eArchiveTag_DWord, pdwValue, 4); }
bool CArchive::ReadULongLong(ULONGLONG* pullValue) { return ReadFixed(eArchiveTag_ULongLong, pullValue, 8); }
bool CArchive::ReadDouble(double* pdValue) { return ReadFixed(eArchiveTag_Double, pdValue, 8); }
bool CArchive::ReadLong(LONG* plValue) { return ReadFixed(eArchiveTag_Long, plValue, 4); }
bool CArchive::ReadChar(signed char* pchValue) { return ReadFixed(eArchiveTag_Char, pchValue, 1); }
bool CArchive::ReadShort(SHORT* psValue) { return ReadFixed(eArchiveTag_Short, psValue, 2); }
bool CArchive::ReadLongLong(LONGLONG* pllValue) { return ReadFixed(eArchiveTag_LongLong, pllValue, 8); }
bool CArchive::ReadGuid(GUID* pGuid) { return ReadFixed(eArchiveTag_Guid, pGuid, 16); }
bool CArchive::ReadBlock16(KQBLOCK16* pBlock) { return ReadFixed(eArchiveTag_Block16, pBlock, 16); }

bool CArchive::ReadBool(bool* pbValue)
{
    BYTE bByte = 0;
    if (!pbValue || !ReadFixed(eArchiveTag_Bool, &bByte, 1))
        return false;
    *pbValue = bByte != 0;
    return true;
}

bool CArchive::WriteStringA(const char* pszText)
{
    static const char kEmpty[] = "";
    const char* psz = pszText ? pszText : kEmpty;
    size_t cb = strlen(psz) + 1;
    if (cb > 0xFFFFFFFF)
        return false;
    return WriteVariable(eArchiveTag_StringA, psz, static_cast<DWORD>(cb));
}

bool CArchive::WriteStringW(const wchar_t* pszText)
{
    static const wchar_t kEmpty[] = L"";
    const wchar_t* psz = pszText ? pszText : kEmpty;
    ULONGLONG ullBytes = (static_cast<ULONGLONG>(wcslen(psz)) + 1) * sizeof(wchar_t);
    if (ullBytes > 0xFFFFFFFF)
        return false;
    return WriteVariable(eArchiveTag_StringW, psz, static_cast<DWORD>(ullBytes));
}

bool CArchive::WriteBinary(const void* pData, DWORD dwSize)
{
    return WriteVariable(eArchiveTag_Binary, pData, dwSize);
}

bool CArchive::WriteBinary(const CMemory& memory)
{
    return WriteVariable(eArchiveTag_Binary, memory.GetData(), memory.GetData() ? memory.GetSize() : 0);
}

bool CArchive::ReadStringA(char* pszBuffer, DWORD cbBuffer)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    if (!pszBuffer || cbBuffer == 0 || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    if (!ReadVariableHeader(eArchiveTag_StringA, cbBuffer, &dwLength) || !ReadBytes(pszBuffer, dwLength))
        return FailItem(ullItemStart);
    // Text written by others might lack its terminator; the buffer always gets one.
    if (dwLength < cbBuffer)
        pszBuffer[dwLength] = '\0';
    else
        pszBuffer[cbBuffer - 1] = '\0';
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadStringW(wchar_t* pszBuffer, DWORD cbBuffer)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    DWORD cchBuffer = cbBuffer / sizeof(wchar_t);
    if (!pszBuffer || cchBuffer == 0 || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    if (!ReadVariableHeader(eArchiveTag_StringW, cchBuffer * sizeof(wchar_t), &dwLength) ||
        dwLength % sizeof(wchar_t) != 0 || !ReadBytes(pszBuffer, dwLength))
        return FailItem(ullItemStart);
    DWORD cchRead = dwLength / sizeof(wchar_t);
    pszBuffer[cchRead < cchBuffer ? cchRead : cchBuffer - 1] = L'\0';
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadStringA(std::string& strText)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    if (!BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    try
    {
        std::string strRead;
        if (!ReadVariableHeader(eArchiveTag_StringA, 0xFFFFFFFF, &dwLength))
            return FailItem(ullItemStart);
        strRead.resize(dwLength);
        if (dwLength && !ReadBytes(&strRead[0], dwLength))
            return FailItem(ullItemStart);
        size_t cchText = strRead.find('\0');
        if (cchText != std::string::npos)
            strRead.resize(cchText);
        strText.swap(strRead);
    }
    catch (const std::bad_alloc&)
    {
        return FailItem(ullItemStart);
    }
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadStringW(std::wstring& strText)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    if (!BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    try
    {
        std::wstring strRead;
        if (!ReadVariableHeader(eArchiveTag_StringW, 0xFFFFFFFF, &dwLength) || dwLength % sizeof(wchar_t) != 0)
            return FailItem(ullItemStart);
        strRead.resize(dwLength / sizeof(wchar_t));
        if (dwLength && !ReadBytes(&strRead[0], dwLength))
            return FailItem(ullItemStart);
        size_t cchText = strRead.find(L'\0');
        if (cchText != std::wstring::npos)
            strRead.resize(cchText);
        strText.swap(strRead);
    }
    catch (const std::bad_alloc&)
    {
        return FailItem(ullItemStart);
    }
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadBinary(void* pBuffer, DWORD cbBuffer, DWORD* pdwSize)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    if ((!pBuffer && cbBuffer) || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    if (!ReadVariableHeader(eArchiveTag_Binary, cbBuffer, &dwLength) || !ReadBytes(pBuffer, dwLength))
        return FailItem(ullItemStart);
    if (pdwSize)
        *pdwSize = dwLength;
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadBinary(CMemory& memory)
{
    ULONGLONG ullItemStart = 0;
    DWORD dwLength = 0;
    if (!BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    if (!ReadVariableHeader(eArchiveTag_Binary, 0xFFFFFFFF, &dwLength))
        return FailItem(ullItemStart);
    // Read into a block of its own first, so that a short store leaves the memory unchanged.
    CMemory read;
    if (dwLength && (!read.Allocate(dwLength) || !ReadBytes(read.GetData(), dwLength)))
        return FailItem(ullItemStart);
    memory.TakeOver(read);
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::WriteVariant(const VARIANT& value)
{
    ULONGLONG ullItemStart = 0;
    if (!BeginItem(eArchiveMode_Store, &ullItemStart))
        return false;
    if (!IsWritableVariant(value, 0))
        return false;
    // The body's length comes from writing it into a counter first.
    CDummyArchive counter;
    DWORD dwLength = 0;
    if (!WriteVariantBody(counter, value, dwLength))
        return false;
    BYTE abHeader[kItemHeaderSize];
    abHeader[0] = eArchiveTag_Variant;
    memcpy(abHeader + 1, &dwLength, sizeof(dwLength));
    if (!WriteBytes(abHeader, kItemHeaderSize))
        return FailItem(ullItemStart);
    // A counter has its count already: the body need not be written a second time.
    DWORD dwWritten = 0;
    if (!IsCountingOnly() && (!WriteVariantBody(*this, value, dwWritten) || dwWritten != dwLength))
        return FailItem(ullItemStart);
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadVariant(VARIANT* pValue)
{
    ULONGLONG ullItemStart = 0;
    if (!pValue)
        return false;
    VariantClear(pValue);
    if (!BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    DWORD dwLength = 0;
    // The shortest body is a bare VARTYPE.
    if (!ReadVariableHeader(eArchiveTag_Variant, 0xFFFFFFFF, &dwLength) || dwLength < sizeof(VARTYPE))
        return FailItem(ullItemStart);
    VARIANT value;
    VariantInit(&value);
    CVariantBodyReader reader(*this, dwLength);
    if (!reader.Read(&value, 0) || !reader.AllConsumed())
    {
        VariantClear(&value);
        return FailItem(ullItemStart);
    }
    *pValue = value;
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::WriteObject(ISerialize* pObject)
{
    ULONGLONG ullItemStart = 0;
    if (!pObject || !BeginItem(eArchiveMode_Store, &ullItemStart))
        return false;
    CObjectDepthGuard depth;
    if (depth.TooDeep())
        return false;
    ULONGLONG ullSize = pObject->GetSizeMax();
    if (ullSize > 0xFFFFFFFF)
        return false;
    DWORD dwLength = static_cast<DWORD>(ullSize);
    BYTE abHeader[kItemHeaderSize];
    abHeader[0] = eArchiveTag_Binary;
    memcpy(abHeader + 1, &dwLength, sizeof(dwLength));
    if (!WriteBytes(abHeader, kItemHeaderSize))
        return FailItem(ullItemStart);
    if (!IsCountingOnly())
    {
        CSmartPtr<IByteStream> spWindow;
        if (!OpenWindow(dwLength, true, spWindow.Receive()) || !spWindow || !pObject->Save(spWindow.Get()))
            return FailItem(ullItemStart);
        // An object that announced more than it wrote leaves zeros behind its saved form.
        ULONGLONG ullWritten = 0;
        if (!spWindow->GetPosition(&ullWritten) || ullWritten > dwLength)
            return FailItem(ullItemStart);
        static const BYTE kZeros[256] = {};
        while (ullWritten < dwLength)
        {
            DWORD dwChunk = static_cast<DWORD>(dwLength - ullWritten < sizeof(kZeros) ? dwLength - ullWritten : sizeof(kZeros));
            if (!spWindow->Write(kZeros, dwChunk))
                return FailItem(ullItemStart);
            ullWritten += dwChunk;
        }
    }
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::ReadObject(ISerialize* pObject)
{
    ULONGLONG ullItemStart = 0;
    if (!pObject || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    CObjectDepthGuard depth;
    if (depth.TooDeep())
        return false;
    DWORD dwLength = 0;
    if (!ReadVariableHeader(eArchiveTag_Binary, 0xFFFFFFFF, &dwLength))
        return FailItem(ullItemStart);
    CSmartPtr<IByteStream> spWindow;
    if (!OpenWindow(dwLength, false, spWindow.Receive()) || !spWindow || !pObject->Load(spWindow.Get()))
        return FailItem(ullItemStart);
    m_ullTotal += kItemHeaderSize + static_cast<ULONGLONG>(dwLength);
    return true;
}

bool CArchive::PeekLength(DWORD* pdwLength)
{
    ULONGLONG ullItemStart = 0;
    if (!pdwLength || !BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    BYTE bTag = 0;
    if (!ReadBytes(&bTag, 1))
        return FailItem(ullItemStart);
    int iSize = GetArchiveTagSize(bTag);
    DWORD dwLength = 0;
    if (iSize < 0 || (iSize == 0 && !ReadBytes(&dwLength, sizeof(dwLength))))
        return FailItem(ullItemStart);
    *pdwLength = iSize > 0 ? static_cast<DWORD>(iSize) : dwLength;
    FailItem(ullItemStart);
    return true;
}

bool CArchive::SkipBytes(ULONGLONG ullCount)
{
    BYTE abScratch[512];
    while (ullCount)
    {
        DWORD dwChunk = static_cast<DWORD>(ullCount < sizeof(abScratch) ? ullCount : sizeof(abScratch));
        if (!ReadBytes(abScratch, dwChunk))
            return false;
        ullCount -= dwChunk;
    }
    return true;
}

bool CArchive::SkipItem()
{
    ULONGLONG ullItemStart = 0;
    if (!BeginItem(eArchiveMode_Load, &ullItemStart))
        return false;
    BYTE bTag = 0;
    if (!ReadBytes(&bTag, 1))
        return FailItem(ullItemStart);
    int iSize = GetArchiveTagSize(bTag);
    DWORD dwLength = 0;
    DWORD dwHeader = 1;
    if (iSize < 0)
        return FailItem(ullItemStart);
    if (iSize > 0)
        dwLength = static_cast<DWORD>(iSize);
    else if (!ReadBytes(&dwLength, sizeof(dwLength)))
        return FailItem(ullItemStart);
    else
        dwHeader = kItemHeaderSize;
    if (!FitsStore(dwLength) || !SkipBytes(dwLength))
        return FailItem(ullItemStart);
    m_ullTotal += dwHeader + static_cast<ULONGLONG>(dwLength);
    return true;
}
