// Unpacks a package into the install cache: the program itself becomes CacheStub.exe (its
// signature fields repaired), the install UI archive is unpacked into the cache folder and the
// other archives are handed on as streams in a key-value collection, where the install engine
// reads them later. The marker extract.dat in the cache folder makes a second run keep what the
// first one wrote and only collect the streams again.
#pragma once
#include <windows.h>

#include <string>

#include "ZIRA_FilePacker.h"
#include "kqSmartPtr.h"
#include "kqValueCollection.h"

// Keys of the archive streams in the stream collection.
enum EPackageStreamKey : DWORD
{
    ePackageStreamKey_Product = 1,
    ePackageStreamKey_InstallPackage = 6,
    ePackageStreamKey_AuxPackage = 7,
};

class CInstallUnpacker : public ZIRA::CFilePacker
{
public:
    CInstallUnpacker() = default;
    ~CInstallUnpacker() override = default;

    // Unpacks the package at pszPackagePath into pszTargetFolder; pStreams receives the archive
    // streams (one reference is held until the next call or the end of this object).
    HRESULT ExtractPackage(IKeyValueCollection* pStreams, const wchar_t* pszTargetFolder, const wchar_t* pszPackagePath);

    ZIRA::EExtractType GetExtractType(DWORD dwFileType) override;
    HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                            ULONGLONG ullSize) override;

    // Writes the program (bytes 0 to the package table) as CacheStub.exe in the target folder
    // and makes its security directory describe only its own certificate again.
    HRESULT HandleStub(IByteStream* pStream, ULONGLONG ullSize);
    // Unpacks the install UI archive into the target folder.
    HRESULT HandleUIPackage(IByteStream* pStream);
    // Stores the stream (and with it its open file) in the collection under the key.
    HRESULT HandleStream(IByteStream* pStream, DWORD dwKey);

    std::wstring m_strTargetFolder;
    CSmartPtr<IKeyValueCollection> m_spStreams;
    // extract.dat was present when ExtractPackage began.
    bool m_bExtractedBefore = false;
};
