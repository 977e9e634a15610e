#include "7zArchive.h"

#include <algorithm>
#include <new>

#include "kqArchiveItemPath.h"
#include "kqPathUtils.h"
#include "kqSplitPath.h"
#include "kqSystemError.h"
#include "kqTrace.h"

namespace {

const wchar_t kFolderPrefix[] = L"InstallPackage";

// Archives made on Unix keep the mode in the high 16 bits and flag that with 0x8000. Of the
// rest only what a new file may carry goes on: the high bits of CreateFile's flags are
// behaviour switches (write-through, overlapped, delete-on-close) an archive must not choose.
DWORD CreationAttributes(DWORD dwItemAttributes)
{
    constexpr DWORD kUnixExtension = 0x8000;
    if (dwItemAttributes & kUnixExtension)
        dwItemAttributes &= 0xFFFF & ~kUnixExtension;
    constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD dwAttributes = dwItemAttributes & kSettable;
    return dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
}

// A string's length always fits a DWORD: its largest size is below 2^31 characters.
void ToUpper(std::wstring& strText)
{
    if (!strText.empty())
        CharUpperBuffW(&strText[0], static_cast<DWORD>(strText.size()));
}

}  // namespace

// The decoder's view of the input: forwards to the adapter, which outlives it (the adapter
// closes the decoder, and with it this object, before it goes).
class C7zArchive::CInputLink final : public IInStream
{
public:
    explicit CInputLink(C7zArchive* pOwner) : m_pOwner(pOwner) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppObject) throw() override
    {
        if (!ppObject)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISequentialInStream || riid == IID_IInStream)
        {
            *ppObject = static_cast<IInStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppObject = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() throw() override { return static_cast<ULONG>(InterlockedIncrement(&m_lRefCount)); }
    STDMETHOD_(ULONG, Release)() throw() override
    {
        LONG lCount = InterlockedDecrement(&m_lRefCount);
        if (lCount == 0)
            delete this;
        return static_cast<ULONG>(lCount);
    }

    Z7_COM7F_IMF(Read(void* data, UInt32 size, UInt32* processedSize)) override
    {
        return m_pOwner->Read(data, size, processedSize);
    }
    Z7_COM7F_IMF(Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition)) override
    {
        return m_pOwner->Seek(offset, seekOrigin, newPosition);
    }

private:
    ~CInputLink() = default;

    volatile LONG m_lRefCount = 0;
    C7zArchive* m_pOwner;
};

HRESULT C7zArchive::Initialize(C7zArchive** ppArchive)
{
    if (!ppArchive)
        return E_INVALIDARG;
    *ppArchive = nullptr;
    C7zArchive* pArchive = new (std::nothrow) C7zArchive;
    if (!pArchive)
        return E_OUTOFMEMORY;
    CInputLink* pLink = new (std::nothrow) CInputLink(pArchive);
    if (!pLink)
    {
        pArchive->Release();
        return E_OUTOFMEMORY;
    }
    pArchive->m_spInputLink = pLink;
    IInArchive* pDecoder = nullptr;
    HRESULT hr = CreateSevenZipInArchive(&pDecoder);
    if (FAILED(hr))
    {
        pArchive->Release();
        return E_OUTOFMEMORY;
    }
    pArchive->m_spArchive.Attach(pDecoder);
    *ppArchive = pArchive;
    return S_OK;
}

C7zArchive::~C7zArchive()
{
    if (m_spArchive)
    {
        m_spArchive->Close();
        m_spArchive.Release();
    }
    m_spInStream = nullptr;
}

STDMETHODIMP C7zArchive::QueryInterface(REFIID riid, void** ppObject) throw()
{
    if (!ppObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialInStream || riid == IID_IInStream)
        *ppObject = static_cast<IInStream*>(this);
    else if (riid == IID_IArchiveOpenCallback)
        *ppObject = static_cast<IArchiveOpenCallback*>(this);
    else if (riid == IID_IProgress || riid == IID_IArchiveExtractCallback)
        *ppObject = static_cast<IArchiveExtractCallback*>(this);
    else
    {
        *ppObject = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) C7zArchive::AddRef() throw()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_lRefCount));
}

STDMETHODIMP_(ULONG) C7zArchive::Release() throw()
{
    LONG lCount = InterlockedDecrement(&m_lRefCount);
    if (lCount == 0)
        delete this;
    return static_cast<ULONG>(lCount);
}

HRESULT C7zArchive::Open(IByteStream* pStream)
{
    if (!pStream)
        return E_INVALIDARG;
    m_spArchive->Close();
    m_spInStream = CSmartPtr<IByteStream>(pStream);
    if (!m_spInStream->SetPosition(0))
    {
        TraceError(L"C7zArchive::Open(150) : failed to set the stream position to 0");
        m_spInStream = nullptr;
        return E_UNEXPECTED;
    }
    // No limit on where the archive may begin in the stream.
    HRESULT hr = m_spArchive->Open(m_spInputLink, nullptr, this);
    if (FAILED(hr))
    {
        TraceError(L"C7zArchive::Open(158) : failed to open archive: 0x%08x", hr);
        m_spInStream = nullptr;
        return hr;
    }
    if (hr == S_FALSE)
    {
        TraceError(L"C7zArchive::Open(163) : failed to open stream archive (S_FALSE)");
        m_spInStream = nullptr;
        return E_7Z_NOT_ARCHIVE;
    }
    return S_OK;
}

// The decoder reads as a sequential stream does: a read that reaches the end delivers what
// is there and reports the short count; the stream itself is read all-or-nothing.
Z7_COM7F_IMF(C7zArchive::Read(void* data, UInt32 size, UInt32* processedSize))
{
    if (processedSize)
        *processedSize = 0;
    ULONGLONG ullSize = 0;
    ULONGLONG ullPosition = 0;
    if (!m_spInStream || !m_spInStream->GetSize(&ullSize) || !m_spInStream->GetPosition(&ullPosition))
    {
        TraceError(L"C7zArchive::Read(599) : ");
        return E_UNEXPECTED;
    }
    UInt32 nCount = size;
    if (ullPosition >= ullSize)
        nCount = 0;
    else if (ullSize - ullPosition < nCount)
        nCount = static_cast<UInt32>(ullSize - ullPosition);
    if (nCount && !m_spInStream->Read(data, nCount))
    {
        TraceError(L"C7zArchive::Read(599) : ");
        return E_UNEXPECTED;
    }
    if (processedSize)
        *processedSize = nCount;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition))
{
    if (!m_spInStream)
        return E_UNEXPECTED;
    ULONGLONG ullBase = 0;
    switch (seekOrigin)
    {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        if (!m_spInStream->GetPosition(&ullBase))
        {
            TraceError(L"C7zArchive::Seek(628) : Get current position");
            return E_UNEXPECTED;
        }
        break;
    case STREAM_SEEK_END:
        if (!m_spInStream->GetSize(&ullBase))
        {
            TraceError(L"C7zArchive::Seek(642) : Get end position");
            return E_UNEXPECTED;
        }
        break;
    default:
        TraceError(L"C7zArchive::Seek(650) : unknown origin");
        return E_UNEXPECTED;
    }
    ULONGLONG ullTarget = ullBase + static_cast<ULONGLONG>(offset);
    // A target before the start wraps around to a huge value, which the stream refuses.
    if ((offset < 0 && ullTarget > ullBase) || !m_spInStream->SetPosition(ullTarget))
    {
        TraceError(L"C7zArchive::Seek(657) : set position");
        return E_UNEXPECTED;
    }
    // Report where the stream really is: a window stream keeps its position inside the window.
    ULONGLONG ullPosition = 0;
    if (!m_spInStream->GetPosition(&ullPosition))
    {
        TraceError(L"C7zArchive::Seek(657) : set position");
        return E_UNEXPECTED;
    }
    if (newPosition)
        *newPosition = ullPosition;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::SetTotal(const UInt64*, const UInt64*))
{
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::SetCompleted(const UInt64*, const UInt64*))
{
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::SetTotal(UInt64))
{
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::SetCompleted(const UInt64*))
{
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::PrepareOperation(Int32))
{
    return S_OK;
}

HRESULT C7zArchive::BeginExtraction(EExtractMode eMode, const wchar_t* pszTarget)
{
    // An empty target would put the items below the root of the current drive.
    if (!pszTarget || !*pszTarget)
        return E_INVALIDARG;
    try
    {
        m_eMode = eMode;
        m_strTarget = pszTarget;
        m_vecIndices.clear();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT C7zArchive::RunExtraction()
{
    if (!m_spInStream)
    {
        TraceError(L"C7zArchive::RunExtraction(700) : no archive is open");
        return E_UNEXPECTED;
    }
    if (m_vecIndices.empty())
        return m_spArchive->Extract(nullptr, static_cast<UInt32>(-1), 0, this);
    return m_spArchive->Extract(m_vecIndices.data(), static_cast<UInt32>(m_vecIndices.size()), 0, this);
}

HRESULT C7zArchive::ExtractArchive(const wchar_t* pszTarget)
{
    HRESULT hr = BeginExtraction(eExtractMode_Archive, pszTarget);
    if (FAILED(hr))
        return hr;
    return RunExtraction();
}

HRESULT C7zArchive::ExtractFolder(const wchar_t* pszTarget)
{
    HRESULT hr = BeginExtraction(eExtractMode_Folder, pszTarget);
    if (FAILED(hr))
        return hr;
    hr = SelectItems(kFolderPrefix, eSelect_AllWithPrefix);
    return FAILED(hr) ? hr : RunExtraction();
}

HRESULT C7zArchive::ExtractFile(const wchar_t* pszItemName, const wchar_t* pszOutputPath)
{
    if (!pszItemName)
        return E_INVALIDARG;
    HRESULT hr = BeginExtraction(eExtractMode_File, pszOutputPath);
    if (FAILED(hr))
        return hr;
    hr = SelectItems(pszItemName, eSelect_FirstEqual);
    return FAILED(hr) ? hr : RunExtraction();
}

// Walks the items in index order and selects those whose path, compared in upper case, begins
// with or equals the name. 0x80070002 when none is selected. Without an open archive nothing is
// selected and the extraction reports that no archive is open.
HRESULT C7zArchive::SelectItems(const wchar_t* pszName, ESelect eSelect)
{
    if (!m_spInStream)
        return S_OK;
    UInt32 nItems = 0;
    HRESULT hr = m_spArchive->GetNumberOfItems(&nItems);
    if (FAILED(hr))
        return hr;
    try
    {
        std::wstring strWanted = pszName;
        ToUpper(strWanted);
        for (UInt32 nIndex = 0; nIndex < nItems; ++nIndex)
        {
            std::wstring strPath;
            hr = GetProperty(nIndex, kpidPath, strPath);
            if (FAILED(hr))
                return hr;
            ToUpper(strPath);
            if (eSelect == eSelect_AllWithPrefix && strPath.compare(0, strWanted.size(), strWanted) == 0)
                m_vecIndices.push_back(nIndex);
            else if (eSelect == eSelect_FirstEqual && strPath == strWanted)
            {
                m_vecIndices.push_back(nIndex);
                break;
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    return m_vecIndices.empty() ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : S_OK;
}

// Where an item of the archive or folder modes goes. Paths that would leave the target are
// refused here, before any folder or file is made.
HRESULT C7zArchive::OutputPathOf(UInt32 nIndex, std::wstring& strOutput, bool& bDirectory)
{
    std::wstring strPath;
    HRESULT hr = GetProperty(nIndex, kpidPath, strPath);
    if (FAILED(hr))
    {
        TraceError(L"C7zArchive::GetStream(745) : no path for item %u: 0x%08x", nIndex, hr);
        return hr;
    }
    hr = GetProperty(nIndex, kpidIsDir, bDirectory);
    if (FAILED(hr))
    {
        TraceError(L"C7zArchive::GetStream(751) : no directory flag for item %u: 0x%08x", nIndex, hr);
        return hr;
    }
    std::wstring strRelative = strPath;
    if (m_eMode == eExtractMode_Folder)
    {
        size_t posSeparator = strPath.find(L'\\');
        if (posSeparator != std::wstring::npos)
            strRelative = strPath.substr(posSeparator + 1);
    }
    if (!IsContainedItemPath(strRelative))
    {
        TraceError(L"C7zArchive::GetStream(763) : item path leaves the target folder, refused: %ls", strPath.c_str());
        return E_7Z_UNSAFE_PATH;
    }
    strOutput = m_strTarget;
    if (!AppendPath(strOutput, strRelative.c_str()))
        return E_OUTOFMEMORY;
    return S_OK;
}

Z7_COM7F_IMF(C7zArchive::GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode))
{
    if (!outStream)
        return E_POINTER;
    *outStream = nullptr;
    if (askExtractMode != NArchive::NExtract::NAskMode::kExtract)
        return S_OK;
    try
    {
        if (!m_vecIndices.empty())
        {
            // The selection is made in index order.
            if (!std::binary_search(m_vecIndices.begin(), m_vecIndices.end(), index))
                return S_OK;
        }

        std::wstring strOutput;
        if (m_eMode == eExtractMode_File)
            strOutput = m_strTarget;
        else
        {
            bool bDirectory = false;
            HRESULT hr = OutputPathOf(index, strOutput, bDirectory);
            if (FAILED(hr))
                return hr;
            if (bDirectory)
            {
                if (!CreateDirectoryTree(strOutput.c_str()))
                    return HresultFromSystemError(GetLastError(), E_FAIL);
                return S_OK;
            }
        }

        CSplitPath splitPath;
        if (splitPath.Split(strOutput.c_str()) && !splitPath.GetFolder().empty() &&
            !CreateDirectoryTree(splitPath.GetFolder().c_str()))
            return HresultFromSystemError(GetLastError(), E_FAIL);

        CMyComPtr<IOutStream> spFile;
        CInternalFile* pFile = CInternalFile::Create();
        if (!pFile)
            return E_OUTOFMEMORY;
        spFile.Attach(pFile);

        DWORD dwItemAttributes = FILE_ATTRIBUTE_NORMAL;
        if (FAILED(GetProperty(index, kpidAttrib, dwItemAttributes)))
            dwItemAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!pFile->GetFile().Open(strOutput.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   CreationAttributes(dwItemAttributes) | FILE_FLAG_SEQUENTIAL_SCAN))
        {
            DWORD dwError = pFile->GetFile().GetLastError();
            TraceError(L"C7zArchive::GetStream(785) : failed to open file: %ls (%lu)", strOutput.c_str(), dwError);
            return HresultFromSystemError(dwError, E_FAIL);
        }

        FILETIME ftModified = {};
        if (SUCCEEDED(GetProperty(index, kpidMTime, ftModified)) &&
            (ftModified.dwLowDateTime || ftModified.dwHighDateTime))
        {
            // Set when the file is closed: writes before that would move it on some file systems.
            pFile->SetModificationTime(ftModified);
        }
        *outStream = spFile.Detach();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

Z7_COM7F_IMF(C7zArchive::SetOperationResult(Int32 opRes))
{
    switch (opRes)
    {
    case eSevenZipItemResult_OK:
        return S_OK;
    case eSevenZipItemResult_CrcError:
        TraceError(L"C7zArchive::SetOperationResult(819) : CRC check failed");
        return E_7Z_CRC_ERROR;
    case eSevenZipItemResult_DataError:
        TraceError(L"C7zArchive::SetOperationResult(824) : Data Error");
        return E_7Z_DATA_ERROR;
    case eSevenZipItemResult_Unavailable:
        TraceError(L"C7zArchive::SetOperationResult(829) : Data Error2");
        return E_7Z_UNAVAILABLE;
    case eSevenZipItemResult_UnexpectedEnd:
        TraceError(L"C7zArchive::SetOperationResult(834) : Data Error3");
        return E_7Z_UNEXPECTED_END;
    default:
        TraceError(L"C7zArchive::SetOperationResult(838) : Unsupported function");
        return E_7Z_UNSUPPORTED;
    }
}

namespace
{
// An item's property when it has the expected type. E_UNEXPECTED for one that is absent or of
// another type; the other type is logged with the caller's line and type name.
HRESULT GetTypedProperty(IInArchive* pArchive, UInt32 nIndex, PROPID propId, VARTYPE vt, UINT nLine,
                         const wchar_t* pszTypeName, NWindows::NCOM::CPropVariant& prop)
{
    HRESULT hr = pArchive->GetProperty(nIndex, propId, &prop);
    if (FAILED(hr))
        return hr;
    if (prop.vt == vt)
        return S_OK;
    if (prop.vt != VT_EMPTY)
        TraceError(L"C7zArchive::GetProperty(%u) : unexpected type (%s): %u", nLine, pszTypeName,
                   static_cast<UINT>(prop.vt));
    return E_UNEXPECTED;
}
}  // namespace

HRESULT C7zArchive::GetProperty(UInt32 nIndex, PROPID propId, std::wstring& strValue)
{
    NWindows::NCOM::CPropVariant prop;
    HRESULT hr = GetTypedProperty(m_spArchive, nIndex, propId, VT_BSTR, 987, L"BSTR", prop);
    if (FAILED(hr))
        return hr;
    try
    {
        strValue.assign(prop.bstrVal ? prop.bstrVal : L"", prop.bstrVal ? SysStringLen(prop.bstrVal) : 0);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT C7zArchive::GetProperty(UInt32 nIndex, PROPID propId, bool& bValue)
{
    NWindows::NCOM::CPropVariant prop;
    HRESULT hr = GetTypedProperty(m_spArchive, nIndex, propId, VT_BOOL, 1013, L"bool", prop);
    if (SUCCEEDED(hr))
        bValue = prop.boolVal != VARIANT_FALSE;
    return hr;
}

HRESULT C7zArchive::GetProperty(UInt32 nIndex, PROPID propId, DWORD& dwValue)
{
    NWindows::NCOM::CPropVariant prop;
    HRESULT hr = GetTypedProperty(m_spArchive, nIndex, propId, VT_UI4, 1036, L"DWORD", prop);
    if (SUCCEEDED(hr))
        dwValue = prop.ulVal;
    return hr;
}

HRESULT C7zArchive::GetProperty(UInt32 nIndex, PROPID propId, FILETIME& ftValue)
{
    NWindows::NCOM::CPropVariant prop;
    HRESULT hr = GetTypedProperty(m_spArchive, nIndex, propId, VT_FILETIME, 1059, L"filetime", prop);
    if (SUCCEEDED(hr))
        ftValue = prop.filetime;
    return hr;
}
