// Writes every file of a package unchanged into a folder, each under its name in the package
// table (the program itself as CacheStub.exe), and can unpack the product archive into the
// folder's "Archive" subfolder. Set the fields, then call Extract on the package path.
#pragma once
#include <windows.h>

#include "InstallUnpacker.h"

class CTestModeUnpacker : public CInstallUnpacker
{
public:
    CTestModeUnpacker() = default;
    ~CTestModeUnpacker() override = default;

    ZIRA::EExtractType GetExtractType(DWORD dwFileType) override;
    HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                            ULONGLONG ullSize) override;

    bool m_bUnpackProduct = false;
};
