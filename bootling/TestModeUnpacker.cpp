#include "TestModeUnpacker.h"

#include <new>
#include <string>

#include "kqArchiveItemPath.h"
#include "UnpackerArchive.h"
#include "kqPathUtils.h"
#include "kqTrace.h"

ZIRA::EExtractType CTestModeUnpacker::GetExtractType(DWORD dwFileType)
{
    // The product archive gets a stream of its own, so that it can be unpacked after it was
    // written without disturbing the walk.
    return dwFileType == ZIRA::eFileType_ProductPackage ? ZIRA::eExtractType_OwnHandle : ZIRA::eExtractType_Direct;
}

HRESULT CTestModeUnpacker::OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                                           ULONGLONG ullSize)
{
    if (dwFileType == ZIRA::eFileType_Stub)
        return HandleStub(pStream, ullSize);

    // A table name is input from the package: it must name a file below the folder.
    const wchar_t* pszName = pszFileName ? pszFileName : L"";
    bool bContained = false;
    try {
        bContained = IsContainedItemPath(pszName);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!bContained) {
        TraceError(L"CTestModeUnpacker::OnExtractStream(45) : file name leaves the target folder, refused: %s",
                   pszName);
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    }
    // The name is plain text, never a format.
    std::wstring strPath;
    if (!CombinePathFormat(strPath, m_strTargetFolder.c_str(), L"%s", pszName))
        return E_OUTOFMEMORY;
    if (!pStream)
        return E_INVALIDARG;
    HRESULT hr = WriteStreamToDisk(strPath.c_str(), pStream, ullSize);
    if (FAILED(hr))
        return hr;

    if (dwFileType != ZIRA::eFileType_ProductPackage || !m_bUnpackProduct)
        return hr;
    CUnpackerArchive archive;
    hr = archive.InitializeAndOpen(pStream,
        L"CTestModeUnpacker::OnExtractStream(68) : failed to initialize archive: 0x%08x",
        L"CTestModeUnpacker::OnExtractStream(74) : failed to open archive: 0x%08x");
    if (FAILED(hr))
        return hr;
    std::wstring strArchiveFolder;
    if (!CombinePathFormat(strArchiveFolder, m_strTargetFolder.c_str(), L"%s", L"Archive"))
        return E_OUTOFMEMORY;
    return archive->ExtractArchive(strArchiveFolder.c_str());
}
