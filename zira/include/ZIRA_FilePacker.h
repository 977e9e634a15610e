// The package table of a self-extracting program. Behind the program's own image and the
// certificate it was signed with lie a table header ("pcPB", version, file count, pointer
// archive length), a pointer archive (name, size and type of every file) and the files back to
// back. CFilePacker walks the table in order and hands every file to OnExtractStream as a stream,
// in the way GetExtractType chooses for its type; derived classes decide what happens to it.
#pragma once
#include <windows.h>

#include "ZIRA_PEFileHelper.h"
#include "kqByteStream.h"

namespace ZIRA {

// Types of the files in a package table. eFileType_Stub is never listed: it stands for the
// program itself (bytes 0 to the table), announced before the entries.
enum EFileType : DWORD
{
    eFileType_ProductPackage = 1,
    eFileType_InstallPackage = 3,
    eFileType_AuxPackage = 4,
    eFileType_UIPackage = 5,
    eFileType_Stub = 6,
};

// How Extract hands a file to OnExtractStream.
enum EExtractType : DWORD
{
    // The package stream itself at the file's first byte; the next file is found by the table,
    // however much of this one the callback read.
    eExtractType_Direct = 0,
    // A second open of the package file, narrowed to a window on the file.
    eExtractType_OwnHandle = 1,
    // Not handed on; nothing of the file is read.
    eExtractType_Skip = 2,
    // The package stream itself narrowed to a window on the file, its file position already
    // past the file: only skipped files may follow.
    eExtractType_Window = 3,
};

// "pcPB"
constexpr DWORD kPackageTableMagic = 0x42506370;
// Highest table version this reader understands.
constexpr DWORD kPackageTableVersion = 2;

class CFilePacker : public CPEFileHelper
{
public:
    CFilePacker() = default;
    ~CFilePacker() override = default;
    CFilePacker(const CFilePacker&) = delete;
    CFilePacker& operator=(const CFilePacker&) = delete;

    // eExtractType_Skip unless a derived class wants the type.
    virtual EExtractType GetExtractType(DWORD dwFileType);
    // The stream is borrowed for the call (a callback that keeps it takes its own reference);
    // pszFileName is null for the stub. A negative result ends the walk.
    virtual HRESULT OnExtractStream(DWORD dwFileType, IByteStream* pStream, const wchar_t* pszFileName,
                                    ULONGLONG ullSize);

    // Does the file carry a package table behind its image and its own certificate.
    static bool ContainsPackage(const wchar_t* pszPath);
    // Walks the package table of the file (which may be the running program) and drives the
    // callbacks. The last callback result, S_OK when none ran.
    HRESULT Extract(const wchar_t* pszPath);
    // Copies ullSize bytes from the stream's position into a new file (its folders created);
    // a partly written file is left in place after a failure.
    static HRESULT WriteStreamToDisk(const wchar_t* pszPath, IByteStream* pStream, ULONGLONG ullSize);

    // Length of the certificate at the end of the program's image (0: unsigned), set by Extract.
    DWORD m_dwStubSignatureSize = 0;

private:
    // Where the package table of an open file starts: behind the image and its certificate (an
    // unsigned program has a u32 0 there). S_OK when the table's header fits the file of
    // ullFileLength bytes; S_FALSE when it does not, *pullTable still set. A failure to read the
    // headers or the certificate length is logged here and returned.
    static HRESULT LocateTable(CFile& file, CPEFileHelper& peFile, ULONGLONG ullFileLength, DWORD* pdwSignatureSize,
                               ULONGLONG* pullTable);
};

}  // namespace ZIRA
