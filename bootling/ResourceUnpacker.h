// Takes one file out of the install UI archive of a package (the language resource module)
// without unpacking anything else. Set the fields, then call Extract on the package path.
#pragma once
#include <windows.h>

#include <string>

#include "ZIRA_FilePacker.h"

class CResourceUnpacker : public ZIRA::CFilePacker
{
public:
    CResourceUnpacker() = default;
    ~CResourceUnpacker() override = default;

    ZIRA::EExtractType GetExtractType(DWORD dwFileType) override;
    HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                            ULONGLONG ullSize) override;

    // The item's path inside the UI archive, and the file it is written to.
    std::wstring m_strItemName;
    std::wstring m_strOutputPath;
};
