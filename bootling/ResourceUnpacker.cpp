#include "ResourceUnpacker.h"

#include "UnpackerArchive.h"
#include "kqTrace.h"

ZIRA::EExtractType CResourceUnpacker::GetExtractType(DWORD dwFileType)
{
    // The archive reads move the package stream: every file after the UI archive is skipped.
    return dwFileType == ZIRA::eFileType_UIPackage ? ZIRA::eExtractType_Window : ZIRA::eExtractType_Skip;
}

HRESULT CResourceUnpacker::OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                                           ULONGLONG ullSize)
{
    if (dwFileType != ZIRA::eFileType_UIPackage)
        return S_OK;
    const wchar_t* pszName = pszFileName ? pszFileName : L"";
    TraceInformation(L"Extracting: %s %I64d (eFileType_UIPackage)", pszName, static_cast<LONGLONG>(ullSize));

    CUnpackerArchive archive;
    HRESULT hr = archive.InitializeAndOpen(pStream,
        L"CResourceUnpacker::OnExtractStream(53) : archive.Initialize failed: 0x%08x",
        L"CResourceUnpacker::OnExtractStream(60) : archive.Open failed: 0x%08x");
    if (FAILED(hr))
        return hr;
    hr = archive->ExtractFile(m_strItemName.c_str(), m_strOutputPath.c_str());
    if (FAILED(hr)) {
        TraceError(L"CResourceUnpacker::OnExtractStream(67) : archive.ExtractFile(%s, %s) failed: 0x%08x\r\n",
                   m_strItemName.c_str(), m_strOutputPath.c_str(), hr);
        return hr;
    }
    TraceInformation(L"Done Extracting: %s", pszName);
    return S_OK;
}
