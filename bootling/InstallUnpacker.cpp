#include "InstallUnpacker.h"

#include <new>

#include "UnpackerArchive.h"
#include "ZIRA_Utils.h"
#include "kqFile.h"
#include "kqPathUtils.h"
#include "kqSystemError.h"
#include "kqTrace.h"

namespace {

const wchar_t kExtractedMarker[] = L"extract.dat";
const wchar_t kCacheStubName[] = L"CacheStub.exe";

}  // namespace

HRESULT CInstallUnpacker::ExtractPackage(IKeyValueCollection* pStreams, const wchar_t* pszTargetFolder,
                                         const wchar_t* pszPackagePath)
{
    std::wstring strMarker;
    try {
        m_strTargetFolder = pszTargetFolder ? pszTargetFolder : L"";
        strMarker = m_strTargetFolder;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // An empty folder would put the cache, and the folder wipe below, at the current directory.
    if (!pStreams || m_strTargetFolder.empty()) {
        TraceError(L"CInstallUnpacker::ExtractPackage(31) : invalid arg");
        return E_INVALIDARG;
    }
    m_spStreams = CSmartPtr<IKeyValueCollection>(pStreams);

    if (!AppendPath(strMarker, kExtractedMarker))
        return E_OUTOFMEMORY;
    m_bExtractedBefore = GetFileAttributesW(strMarker.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (m_bExtractedBefore) {
        TraceInformation(L"extraction was completed in a previous session -- nothing extracted");
    } else {
        // Whatever an interrupted run left behind goes; the result does not matter, the folder
        // is made afresh.
        ZIRA::CUtils::DeleteFolder(m_strTargetFolder.c_str(), false, false);
        if (!CreateDirectoryTree(m_strTargetFolder.c_str()))
            TraceError(L"CInstallUnpacker::ExtractPackage(48) : failed to create directory: %s (%lu)",
                       m_strTargetFolder.c_str(), GetLastError());
    }

    const HRESULT hr = Extract(pszPackagePath);

    if (SUCCEEDED(hr) && !m_bExtractedBefore) {
        CFile marker;
        if (!marker.Open(strMarker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL))
            TraceError(L"CInstallUnpacker::ExtractPackage(58) : failed to write extraction complete flag");
    }
    return hr;
}

ZIRA::EExtractType CInstallUnpacker::GetExtractType(DWORD dwFileType)
{
    switch (dwFileType) {
    case ZIRA::eFileType_ProductPackage:
        return ZIRA::eExtractType_Window;
    case ZIRA::eFileType_InstallPackage:
    case ZIRA::eFileType_AuxPackage:
    case ZIRA::eFileType_UIPackage:
        return ZIRA::eExtractType_OwnHandle;
    case ZIRA::eFileType_Stub:
        return ZIRA::eExtractType_Direct;
    default:
        return ZIRA::eExtractType_Skip;
    }
}

HRESULT CInstallUnpacker::OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* /*pszFileName*/,
                                          ULONGLONG ullSize)
{
    switch (dwFileType) {
    case ZIRA::eFileType_ProductPackage:
        return HandleStream(pStream, ePackageStreamKey_Product);
    case ZIRA::eFileType_InstallPackage:
        return HandleStream(pStream, ePackageStreamKey_InstallPackage);
    case ZIRA::eFileType_AuxPackage:
        return HandleStream(pStream, ePackageStreamKey_AuxPackage);
    case ZIRA::eFileType_UIPackage:
        return m_bExtractedBefore ? S_OK : HandleUIPackage(pStream);
    case ZIRA::eFileType_Stub:
        return m_bExtractedBefore ? S_OK : HandleStub(pStream, ullSize);
    default:
        TraceError(L"CInstallUnpacker::OnExtractStream(116) : unexpected");
        return E_UNEXPECTED;
    }
}

HRESULT CInstallUnpacker::HandleStub(IByteStream* pStream, ULONGLONG ullSize)
{
    std::wstring strPath;
    // An empty folder means the current one, never the root of the drive.
    if (!CombinePathFormat(strPath, m_strTargetFolder.c_str(), L"%s", kCacheStubName)) {
        TraceError(L"CInstallUnpacker::HandleStub(201) : failed to get stub path");
        return E_OUTOFMEMORY;
    }
    TraceInformation(L"Start: extract stub");
    if (!pStream) {
        TraceError(L"Finish: extract stub (0x%08x)", E_INVALIDARG);
        return E_INVALIDARG;
    }
    HRESULT hr = WriteStreamToDisk(strPath.c_str(), pStream, ullSize);
    if (FAILED(hr)) {
        TraceError(L"Finish: extract stub (0x%08x)", hr);
        return hr;
    }
    TraceInformation(L"Finish: extract stub");
    TraceInformation(L"Start: fix stub signature");

    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                   FILE_FLAG_SEQUENTIAL_SCAN)) {
        TraceError(L"CInstallUnpacker::HandleStub(222) : failed to open file: %s (%lu)", strPath.c_str(),
                   file.GetLastError());
        return HresultFromSystemError(file.GetLastError(), E_UNEXPECTED);
    }
    // The copy still carries the package file's security directory entry, which points beyond
    // the copy's end: the bounds test cannot hold.
    ZIRA::CPEFileHelper peFile;
    if (!peFile.ReadHeaders(file, true)) {
        TraceInformation(L"failed to read headers (out file)");
        return E_UNEXPECTED;
    }
    // The program's own certificate sits at its end of image, as it did in the package.
    if (m_dwStubSignatureSize != 0) {
        peFile.m_dwCertificateTableOffset = m_dwEndOfImage;
        peFile.m_dwCertificateTableSize = m_dwStubSignatureSize;
    } else {
        peFile.m_dwCertificateTableOffset = 0;
        peFile.m_dwCertificateTableSize = 0;
    }
    if (!peFile.UpdateSecurityDirectoryEntry(file)) {
        TraceError(L"UpdateSecurityDirectoryEntry failed (extracted file)");
        return E_UNEXPECTED;
    }
    if (!peFile.UpdateChecksum(file, strPath.c_str())) {
        TraceError(L"UpdateChecksum failed (extracted file)");
        return E_UNEXPECTED;
    }
    TraceInformation(L"Finish: fix stub signature");
    file.Close();
    return S_OK;
}

HRESULT CInstallUnpacker::HandleUIPackage(IByteStream* pStream)
{
    TraceInformation(L"Extracting: UIPackage");
    CUnpackerArchive archive;
    HRESULT hr = archive.InitializeAndOpen(pStream,
        L"CInstallUnpacker::HandleUIPackage(284) : archive.Initialize failed: 0x%08x",
        L"CInstallUnpacker::HandleUIPackage(291) : archive.Open failed: 0x%08x");
    if (FAILED(hr))
        return hr;
    hr = archive->ExtractArchive(m_strTargetFolder.c_str());
    if (FAILED(hr)) {
        TraceError(L"CInstallUnpacker::HandleUIPackage(298) : archive.ExtractArchive failed: 0x%08x", hr);
        return hr;
    }
    TraceInformation(L"Done Extracting: UIPackage");
    return S_OK;
}

HRESULT CInstallUnpacker::HandleStream(IByteStream* pStream, DWORD dwKey)
{
    if (!m_spStreams || !pStream || !m_spStreams->SetObjectRef(dwKey, pStream)) {
        TraceError(L"CInstallUnpacker::HandleStream(311) : failed to add stream at key %d", static_cast<int>(dwKey));
        return E_UNEXPECTED;
    }
    return S_OK;
}
