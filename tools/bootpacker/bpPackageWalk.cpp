#include "bpPackageWalk.h"

#include <algorithm>
#include <memory>
#include <new>

#include "bpText.h"
#include "kqArchiveItemPath.h"
#include "kqFile.h"
#include "kqPathUtils.h"

#include "ZIRA_FilePacker.h"

bool IsPlainFileName(const std::wstring& strName)
{
    // The library's item path check refuses device names (CON, NUL.txt, COM1), dot names,
    // trailing dots and blanks, colons and control characters. A single file name must also
    // have no folder parts and none of the other characters Windows reserves.
    return IsContainedItemPath(strName) && strName.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

namespace {

const DWORD kChunk = 256 * 1024;

// Hands every entry to Handle on its own window of the package (the stub is skipped).
class CEntryWalker : public ZIRA::CFilePacker
{
public:
    ZIRA::EExtractType GetExtractType(DWORD dwFileType) override
    {
        return dwFileType == ZIRA::eFileType_Stub ? ZIRA::eExtractType_Skip : ZIRA::eExtractType_OwnHandle;
    }
    HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                            ULONGLONG ullSize) override
    {
        if (!pStream || !pszFileName) {
            m_strError = "an entry without a stream or a name";
            return E_UNEXPECTED;
        }
        const HRESULT hr = Handle(dwFileType, pStream, pszFileName, ullSize);
        ++m_cEntries;
        return hr;
    }

    std::string m_strError;
    size_t m_cEntries = 0;

protected:
    virtual HRESULT Handle(DWORD dwFileType, IByteStream* pStream, const std::wstring& strName, ULONGLONG ullSize) = 0;
};

class CExtractor : public CEntryWalker
{
public:
    explicit CExtractor(const std::wstring& strFolder) : m_strFolder(strFolder) {}
    std::vector<std::wstring> m_paths;

protected:
    HRESULT Handle(DWORD, IByteStream* pStream, const std::wstring& strName, ULONGLONG ullSize) override
    {
        if (!IsPlainFileName(strName)) {
            m_strError = "entry name \"" + ToUtf8(strName) + "\" is not a plain file name";
            return E_UNEXPECTED;
        }
        std::wstring strTarget = m_strFolder;
        if (!AppendPath(strTarget, strName.c_str())) {
            m_strError = "out of memory";
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = WriteStreamToDisk(strTarget.c_str(), pStream, ullSize);
        if (FAILED(hr)) {
            char szCode[16];
            wsprintfA(szCode, "0x%08lX", static_cast<unsigned long>(hr));
            m_strError = ToUtf8(strTarget) + ": cannot write the entry (" + szCode + ")";
            return hr;
        }
        m_paths.push_back(strTarget);
        return S_OK;
    }

private:
    std::wstring m_strFolder;
};

class CComparer : public CEntryWalker
{
public:
    explicit CComparer(const std::vector<PackageInput>& inputs) : m_Inputs(inputs) {}

protected:
    HRESULT Handle(DWORD dwFileType, IByteStream* pStream, const std::wstring& strName, ULONGLONG ullSize) override
    {
        const std::string strEntry = "entry \"" + ToUtf8(strName) + "\"";
        if (m_cEntries >= m_Inputs.size()) {
            m_strError = strEntry + " was not written";
            return E_UNEXPECTED;
        }
        const PackageInput& input = m_Inputs[m_cEntries];
        CFile file;
        ULONGLONG ullInputSize = 0;
        if (strName != EntryName(input.strPath) || dwFileType != input.dwType ||
            !file.Open(input.strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0) ||
            !file.GetSize(&ullInputSize) || ullInputSize != ullSize) {
            m_strError = strEntry + " does not match " + ToUtf8(input.strPath) + " in name, type or size";
            return E_UNEXPECTED;
        }
        std::unique_ptr<BYTE[]> a(new (std::nothrow) BYTE[kChunk]);
        std::unique_ptr<BYTE[]> b(new (std::nothrow) BYTE[kChunk]);
        if (!a || !b) {
            m_strError = "out of memory";
            return E_OUTOFMEMORY;
        }
        for (ULONGLONG ullLeft = ullSize; ullLeft > 0;) {
            const DWORD dwChunk = static_cast<DWORD>(std::min<ULONGLONG>(ullLeft, kChunk));
            if (!pStream->Read(a.get(), dwChunk) || !file.Read(b.get(), dwChunk) || memcmp(a.get(), b.get(), dwChunk)) {
                m_strError = strEntry + " differs from " + ToUtf8(input.strPath);
                return E_UNEXPECTED;
            }
            ullLeft -= dwChunk;
        }
        return S_OK;
    }

private:
    const std::vector<PackageInput>& m_Inputs;
};

bool Walk(CEntryWalker& walker, const std::wstring& strPackage, std::string& strError)
{
    const HRESULT hr = walker.Extract(strPackage.c_str());
    if (FAILED(hr)) {
        char szCode[16];
        wsprintfA(szCode, "0x%08lX", static_cast<unsigned long>(hr));
        strError = ToUtf8(strPackage) + ": the package reader failed (" + szCode + ")" +
                   (walker.m_strError.empty() ? std::string() : ": " + walker.m_strError);
        return false;
    }
    return true;
}

}  // namespace

bool ExtractWithPackageReader(const std::wstring& strPackage, const std::wstring& strFolder,
                              std::vector<std::wstring>& writtenPaths, std::string& strError)
{
    CExtractor extractor(strFolder);
    const bool bOk = Walk(extractor, strPackage, strError);
    writtenPaths = extractor.m_paths;
    return bOk;
}

bool CompareWithPackageReader(const std::wstring& strPackage, const std::vector<PackageInput>& inputs,
                              std::string& strError)
{
    CComparer comparer(inputs);
    if (!Walk(comparer, strPackage, strError))
        return false;
    if (comparer.m_cEntries != inputs.size()) {
        strError = ToUtf8(strPackage) + ": the package reader found " + std::to_string(comparer.m_cEntries) +
                   " entries, not " + std::to_string(inputs.size());
        return false;
    }
    return true;
}
