// Builds package files for tests: a program image with its certificate (or a u32 0), the table
// header, a pointer archive written with the library's archive writer, then the files.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ZIRA_FilePacker.h"
#include "ZIRA_PEFileHelper.h"
#include "kqFile.h"
#include "kqMemory.h"
#include "kqMemoryArchive.h"
#include "kqTestFiles.h"

namespace ziratest {

struct PackageFile
{
    std::wstring strName;
    std::string data;
    DWORD dwType = 0;
};

struct PackageLayout
{
    DWORD dwMagic = ZIRA::kPackageTableMagic;
    DWORD dwVersion = 2;
    // The count written into the header; ~0 means the number of files.
    ULONGLONG ullCount = ~0ULL;
    // A further name behind the counted entries, as some shipped packages have.
    const wchar_t* pszExtraName = nullptr;
    // Replaces the pointer archive length in the header.
    bool bOverrideArchiveSize = false;
    DWORD dwArchiveSize = 0;
};

// The end of image of a PE file on disk (0 when its headers cannot be read).
inline DWORD EndOfImage(const std::wstring& strPath)
{
    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0))
        return 0;
    ZIRA::CPEFileHelper pe;
    return pe.ReadHeaders(file, true) ? pe.m_dwEndOfImage : 0;
}

// An unsigned program as a package starts: its image up to the end of image, then a u32 0.
inline std::string UnsignedStub(const std::wstring& strProgram)
{
    std::string bytes = kqtest::ReadFileBytes(strProgram);
    const DWORD dwEnd = EndOfImage(strProgram);
    if (dwEnd == 0 || dwEnd > bytes.size())
        return std::string();
    bytes.resize(dwEnd);
    bytes.append(4, '\0');
    return bytes;
}

// The pointer archive of the files, as the table carries it.
inline std::string PointerArchive(const std::vector<PackageFile>& files, const wchar_t* pszExtraName)
{
    CMemory memory;
    CMemoryArchive archive(memory, eArchiveMode_Store);
    for (const PackageFile& file : files) {
        archive.WriteStringW(file.strName.c_str());
        archive.WriteULongLong(file.data.size());
        archive.WriteDWord(file.dwType);
    }
    if (pszExtraName)
        archive.WriteStringW(pszExtraName);
    ULONGLONG ullSize = 0;
    archive.GetPosition(&ullSize);
    return std::string(static_cast<const char*>(memory.GetData()), static_cast<size_t>(ullSize));
}

// The 20-byte table header.
inline std::string TableHeader(const PackageLayout& layout, ULONGLONG ullCount, DWORD dwArchiveSize)
{
    std::string header(20, '\0');
    memcpy(&header[0], &layout.dwMagic, 4);
    memcpy(&header[4], &layout.dwVersion, 4);
    memcpy(&header[8], &ullCount, 8);
    memcpy(&header[16], &dwArchiveSize, 4);
    return header;
}

// stub, header, pointer archive, files. *pullTable receives the table's offset.
inline std::string BuildPackage(const std::string& stub, const std::vector<PackageFile>& files,
                                const PackageLayout& layout = PackageLayout(), size_t* pnTable = nullptr)
{
    const std::string pointers = PointerArchive(files, layout.pszExtraName);
    const ULONGLONG ullCount = layout.ullCount == ~0ULL ? files.size() : layout.ullCount;
    const DWORD dwArchiveSize =
        layout.bOverrideArchiveSize ? layout.dwArchiveSize : static_cast<DWORD>(pointers.size());
    std::string package = stub;
    if (pnTable)
        *pnTable = package.size();
    package += TableHeader(layout, ullCount, dwArchiveSize);
    package += pointers;
    for (const PackageFile& file : files)
        package += file.data;
    return package;
}

// Bytes that differ from file to file and position to position.
inline std::string PatternBytes(size_t nSize, unsigned seed)
{
    std::string data(nSize, '\0');
    unsigned value = seed * 2654435761u + 1;
    for (size_t i = 0; i < nSize; ++i) {
        value = value * 1103515245u + 12345u;
        data[i] = static_cast<char>(value >> 16);
    }
    return data;
}

}  // namespace ziratest
