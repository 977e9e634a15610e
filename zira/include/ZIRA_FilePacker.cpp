#include "ZIRA_FilePacker.h"

#include <memory>
#include <new>
#include <string>

#include "ZIRA_FileStreamImpl.h"
#include "kqMemory.h"
#include "kqMemoryArchive.h"
#include "kqPathUtils.h"
#include "kqSmartPtr.h"
#include "kqSystemError.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

constexpr DWORD kTableHeaderSize = 20;
constexpr DWORD kCopyBlockSize = 16384;
// The smallest entry the pointer archive can hold: an empty name item (tag and length), a u64
// item and a u32 item. A count above A / this cannot be genuine.
constexpr ULONGLONG kMinEntryBytes = (1 + 4) + (1 + 8) + (1 + 4);

bool OpenPackageFile(CFile& file, const wchar_t* pszPath)
{
    return file.Open(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
}

bool ReadU32At(CFile& file, ULONGLONG ullPosition, DWORD* pdwValue)
{
    return file.ReadAt(ullPosition, pdwValue, sizeof(*pdwValue));
}

// The stream's own record of its last system error, else the thread's, else access denied.
DWORD StreamError(IByteStream* pStream)
{
    DWORD dwError = 0;
    CSmartPtr<IFileStreamError> spError;
    if (SUCCEEDED(pStream->QueryInterface(IFileStreamError::kIid, spError.ReceiveVoid())) && spError)
        dwError = spError->GetLastError();
    if (dwError == 0)
        dwError = ::GetLastError();
    return dwError != 0 ? dwError : ERROR_ACCESS_DENIED;
}

}  // namespace

EExtractType CFilePacker::GetExtractType(DWORD /*dwFileType*/)
{
    return eExtractType_Skip;
}

HRESULT CFilePacker::OnExtractStream(DWORD /*dwFileType*/, IByteStream* /*pStream*/, const wchar_t* /*pszFileName*/,
                                     ULONGLONG /*ullSize*/)
{
    return S_OK;
}

HRESULT CFilePacker::LocateTable(CFile& file, CPEFileHelper& peFile, ULONGLONG ullFileLength, DWORD* pdwSignatureSize,
                                 ULONGLONG* pullTable)
{
    if (!peFile.ReadHeaders(file, false)) {
        TraceError(L"failed to read headers\r\n");
        return E_UNEXPECTED;
    }
    TraceInformation(L"End of EXE module: %lu", peFile.m_dwEndOfImage);
    if (!ReadU32At(file, peFile.m_dwEndOfImage, pdwSignatureSize)) {
        TraceError(L"failed to read signature size from end of PE (%lu)\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    // An unsigned program has a u32 0 where the certificate would be; the table follows it.
    const DWORD dwSignatureSize = *pdwSignatureSize;
    *pullTable = static_cast<ULONGLONG>(peFile.m_dwEndOfImage) + (dwSignatureSize ? dwSignatureSize : 4);
    // The certificate length comes from the file: the table header must fit behind it.
    if (*pullTable > ullFileLength || ullFileLength - *pullTable < kTableHeaderSize)
        return S_FALSE;
    return S_OK;
}

bool CFilePacker::ContainsPackage(const wchar_t* pszPath)
{
    if (!pszPath || GetFileAttributesW(pszPath) == INVALID_FILE_ATTRIBUTES) {
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(552) : packed file does not exist: %s\r\n",
                   pszPath ? pszPath : L"");
        return false;
    }
    CFile file;
    if (!OpenPackageFile(file, pszPath)) {
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(563) : failed to open this file: %lu\r\n", file.GetLastError());
        return false;
    }
    ULONGLONG ullFileLength = 0;
    if (!file.GetSize(&ullFileLength)) {
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(566) : failed to get the file size: %lu\r\n",
                   file.GetLastError());
        return false;
    }
    CPEFileHelper peFile;
    DWORD dwSignatureSize = 0;
    ULONGLONG ullTable = 0;
    const HRESULT hr = LocateTable(file, peFile, ullFileLength, &dwSignatureSize, &ullTable);
    if (FAILED(hr))
        return false;
    TraceInformation(L"REAL End of EXE module: %I64u", ullTable);
    if (hr == S_FALSE) {
        // The table header would run past the end of the file: its signature cannot be read.
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(610) : failed to Read signature (%lu)\r\n",
                   static_cast<DWORD>(ERROR_HANDLE_EOF));
        return false;
    }

    if (!file.SetPosition(ullTable)) {
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(602) : failed to seek to %I64u (%lu)\r\n", ullTable,
                   file.GetLastError());
        return false;
    }
    DWORD dwMagic = 0;
    if (!file.Read(&dwMagic, sizeof(dwMagic))) {
        TraceError(L"ZIRA::CFilePacker::ContainsPackage(610) : failed to Read signature (%lu)\r\n", file.GetLastError());
        return false;
    }
    if (dwMagic != kPackageTableMagic) {
        TraceInformation(L"package not found");
        return false;
    }
    return true;
}

HRESULT CFilePacker::Extract(const wchar_t* pszPath)
{
    if (!pszPath || GetFileAttributesW(pszPath) == INVALID_FILE_ATTRIBUTES) {
        TraceError(L"ZIRA::CFilePacker::Extract(632) : packed file does not exist: %s\r\n", pszPath ? pszPath : L"");
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }

    CSmartPtr<CFileStreamImpl> spPackage;
    spPackage.Attach(CreateFileStreamImpl());
    if (!spPackage) {
        TraceError(L"ZIRA::CFilePacker::Extract(641) : failed to create zira::CFileStreamImpl\r\n");
        return E_OUTOFMEMORY;
    }
    CFile& file = spPackage->GetFile();
    if (!OpenPackageFile(file, pszPath)) {
        TraceError(L"ZIRA::CFilePacker::Extract(652) : failed to open this file: %lu\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    ULONGLONG ullFileLength = 0;
    if (!file.GetSize(&ullFileLength)) {
        TraceError(L"ZIRA::CFilePacker::Extract(655) : failed to get the file size: %lu\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }

    // Each walk reads the headers of its own file, also when this object walked another before.
    m_bHeadersRead = false;
    ULONGLONG ullTable = 0;
    const HRESULT hrLocate = LocateTable(file, *this, ullFileLength, &m_dwStubSignatureSize, &ullTable);
    if (FAILED(hrLocate))
        return hrLocate;
    if (hrLocate == S_FALSE) {
        TraceError(L"ZIRA::CFilePacker::Extract(668) : no package table at %I64u in a file of %I64u bytes\r\n",
                   ullTable, ullFileLength);
        return E_UNEXPECTED;
    }

    if (GetExtractType(eFileType_Stub) == eExtractType_Direct) {
        if (!file.SetPosition(0)) {
            TraceError(L"ZIRA::CFilePacker::Extract(676) : failed to seek to 0 (%lu)\r\n", file.GetLastError());
            return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
        }
        HRESULT hr = OnExtractStream(eFileType_Stub, spPackage.Get(), nullptr, ullTable);
        if (FAILED(hr))
            return hr;
    }

    if (!file.SetPosition(ullTable)) {
        TraceError(L"ZIRA::CFilePacker::Extract(693) : failed to seek to %I64u (%lu)\r\n", ullTable,
                   file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    DWORD dwMagic = 0;
    if (!file.Read(&dwMagic, sizeof(dwMagic))) {
        TraceError(L"ZIRA::CFilePacker::Extract(701) : failed to Read signature (%lu)\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    if (dwMagic != kPackageTableMagic) {
        TraceError(L"ZIRA::CFilePacker::Extract(705) : package table not found (0x%08x)\r\n", dwMagic);
        return E_UNEXPECTED;
    }
    DWORD dwVersion = 0;
    if (!file.Read(&dwVersion, sizeof(dwVersion))) {
        TraceError(L"ZIRA::CFilePacker::Extract(713) : failed to read version (%lu)\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    if (dwVersion > kPackageTableVersion) {
        TraceError(L"ZIRA::CFilePacker::Extract(719) : unexpected version (%lu)\r\n", dwVersion);
        return E_UNEXPECTED;
    }
    ULONGLONG ullCount = 0;
    if (!file.Read(&ullCount, sizeof(ullCount))) {
        TraceError(L"ZIRA::CFilePacker::Extract(732) : failed to read count of files: %lu\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    DWORD dwArchiveSize = 0;
    if (!file.Read(&dwArchiveSize, sizeof(dwArchiveSize))) {
        TraceError(L"ZIRA::CFilePacker::Extract(745) : failed to read pointer archive size: %lu\r\n",
                   file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }

    // The table is input from a file that may have been tampered with: sizes and counts must
    // fit the file before anything is allocated for them.
    const ULONGLONG ullArchiveStart = ullTable + kTableHeaderSize;
    if (dwArchiveSize > ullFileLength - ullArchiveStart) {
        TraceError(L"ZIRA::CFilePacker::Extract(750) : pointer archive size %lu exceeds the file\r\n", dwArchiveSize);
        return E_UNEXPECTED;
    }
    if (ullCount > dwArchiveSize / kMinEntryBytes) {
        TraceError(L"ZIRA::CFilePacker::Extract(752) : count of files %I64u does not fit a pointer archive of %lu "
                   L"bytes\r\n",
                   ullCount, dwArchiveSize);
        return E_UNEXPECTED;
    }
    if (ullCount == 0)
        return S_OK;

    CMemory memory;
    void* pArchiveData = memory.Allocate(dwArchiveSize);
    if (!pArchiveData) {
        TraceError(L"ZIRA::CFilePacker::Extract(758) : out of memory\r\n");
        return E_OUTOFMEMORY;
    }
    if (!file.Read(pArchiveData, dwArchiveSize)) {
        TraceError(L"ZIRA::CFilePacker::Extract(766) : failed to read pointer archive: %lu\r\n", file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    CMemoryArchive archive(memory, eArchiveMode_Load);

    HRESULT hrLast = S_OK;
    // Where the table places the next file; the files must end within the package file.
    ULONGLONG ullLayoutPosition = ullArchiveStart + dwArchiveSize;
    for (ULONGLONG ullIndex = 0; ullIndex < ullCount; ++ullIndex) {
        std::wstring strName;
        ULONGLONG ullSize = 0;
        DWORD dwFileType = 0;
        bool bRead = false;
        try {
            bRead = archive.ReadStringW(strName) && archive.ReadULongLong(&ullSize) && archive.ReadDWord(&dwFileType);
        } catch (const std::bad_alloc&) {
            bRead = false;
        }
        if (!bRead) {
            TraceError(L"ZIRA::CFilePacker::Extract(779) : failed to read data from pointer archive\r\n");
            return E_UNEXPECTED;
        }
        if (ullSize > ullFileLength - ullLayoutPosition) {
            TraceError(L"ZIRA::CFilePacker::Extract(785) : file %I64u (%s) of %I64u bytes ends beyond the package\r\n",
                       ullIndex, strName.c_str(), ullSize);
            return E_UNEXPECTED;
        }
        // Each file is reached at its place in the layout, however much of the file before it
        // a callback read.
        const ULONGLONG ullStart = ullLayoutPosition;
        ullLayoutPosition += ullSize;

        const EExtractType eExtractType = GetExtractType(dwFileType);
        HRESULT hr = S_OK;
        switch (eExtractType) {
        case eExtractType_Direct:
            if (!file.SetPosition(ullStart)) {
                TraceError(L"ZIRA::CFilePacker::Extract(796) : failed to seek to %s at %I64u (%lu)\r\n",
                           strName.c_str(), ullStart, file.GetLastError());
                return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
            }
            hr = OnExtractStream(dwFileType, spPackage.Get(), strName.c_str(), ullSize);
            break;

        case eExtractType_OwnHandle: {
            CSmartPtr<CFileStreamImpl> spOwn;
            spOwn.Attach(CreateFileStreamImpl());
            if (!spOwn) {
                TraceError(L"ZIRA::CFilePacker::Extract(803) : failed to create zira::CFileStreamImpl\r\n");
                return E_OUTOFMEMORY;
            }
            CFile& own = spOwn->GetFile();
            if (!OpenPackageFile(own, pszPath)) {
                TraceError(L"ZIRA::CFilePacker::Extract(814) : failed to open this file: %lu\r\n", own.GetLastError());
                return HresultFromSystemError(own.GetLastError(), E_UNEXPECTED);
            }
            if (!own.SetPosition(ullStart)) {
                TraceError(L"ZIRA::CFilePacker::Extract(820) : failed to position the stream: %lu\r\n",
                           own.GetLastError());
                return HresultFromSystemError(own.GetLastError(), E_UNEXPECTED);
            }
            spOwn->SetBase();
            spOwn->SetLimit(ullSize);
            hr = OnExtractStream(dwFileType, spOwn.Get(), strName.c_str(), ullSize);
            break;
        }

        case eExtractType_Skip:
            continue;

        case eExtractType_Window:
            if (!file.SetPosition(ullStart)) {
                TraceError(L"ZIRA::CFilePacker::Extract(796) : failed to seek to %s at %I64u (%lu)\r\n",
                           strName.c_str(), ullStart, file.GetLastError());
                return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
            }
            spPackage->SetBase();
            spPackage->SetLimit(ullSize);
            if (!file.SetPosition(ullLayoutPosition)) {
                TraceError(L"ZIRA::CFilePacker::Extract(846) : failed to seek past %s (%lu)\r\n", strName.c_str(),
                           file.GetLastError());
                return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
            }
            hr = OnExtractStream(dwFileType, spPackage.Get(), strName.c_str(), ullSize);
            break;

        default:
            TraceError(L"ZIRA::CFilePacker::Extract(854) : invalid extract type: %d", static_cast<int>(eExtractType));
            return E_UNEXPECTED;
        }
        if (FAILED(hr))
            return hr;
        hrLast = hr;
    }
    return hrLast;
}

HRESULT CFilePacker::WriteStreamToDisk(const wchar_t* pszPath, IByteStream* pStream, ULONGLONG ullSize)
{
    if (!pszPath || !*pszPath || !pStream)
        return E_INVALIDARG;

    std::wstring strFolder;
    try {
        strFolder = pszPath;
        const size_t nSlash = strFolder.find_last_of(L"\\/");
        strFolder.resize(nSlash == std::wstring::npos ? 0 : nSlash);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!strFolder.empty() && !CreateDirectoryTree(strFolder.c_str())) {
        const DWORD dwError = ::GetLastError();
        TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(888) : failed to create directory: %s (%lu)",
                   strFolder.c_str(), dwError);
        return HresultFromSystemError(dwError, E_ACCESSDENIED);
    }

    CFile output;
    if (!output.Open(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN)) {
        TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(903) : failed to create file: %lu\r\n",
                   output.GetLastError());
        return HresultFromSystemError(output.GetLastError(), E_ACCESSDENIED);
    }

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCopyBlockSize]);
    if (!buffer) {
        TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(912) : out of memory\r\n");
        return E_OUTOFMEMORY;
    }

    ULONGLONG ullRemaining = ullSize;
    while (ullRemaining > kCopyBlockSize) {
        if (!pStream->Read(buffer.get(), kCopyBlockSize)) {
            const DWORD dwError = StreamError(pStream);
            TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(931) : failed to read file: %lu\r\n", dwError);
            return HresultFromSystemError(dwError, E_UNEXPECTED);
        }
        if (!output.Write(buffer.get(), kCopyBlockSize)) {
            TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(939) : failed to write to output file: %lu)\r\n",
                       output.GetLastError());
            return HresultFromSystemError(output.GetLastError(), E_UNEXPECTED);
        }
        ullRemaining -= kCopyBlockSize;
    }
    if (ullRemaining > 0) {
        const DWORD dwRest = static_cast<DWORD>(ullRemaining);
        if (!pStream->Read(buffer.get(), dwRest)) {
            const DWORD dwError = StreamError(pStream);
            TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(960) : failed to read file: %lu\r\n", dwError);
            return HresultFromSystemError(dwError, E_UNEXPECTED);
        }
        if (!output.Write(buffer.get(), dwRest)) {
            TraceError(L"ZIRA::CFilePacker::WriteStreamToDisk(968) : failed to write to output file: %lu)\r\n",
                       output.GetLastError());
            return HresultFromSystemError(output.GetLastError(), E_UNEXPECTED);
        }
    }
    output.Close();
    return S_OK;
}

}  // namespace ZIRA
