#include "ZIRA_PEFileHelper.h"

#include <cstring>
#include <memory>
#include <new>

#include "kqSystemLibrary.h"
#include "kqTrace.h"

namespace ZIRA {

namespace {

// Layout of the headers, as offsets into the structures (little-endian on disk).
const DWORD kDosHeaderSize = 64;           // IMAGE_DOS_HEADER
const DWORD kDosLfanewOffset = 0x3C;       // IMAGE_DOS_HEADER.e_lfanew
const DWORD kNtHeadersReadSize = 264;      // IMAGE_NT_HEADERS64, large enough for either format
const DWORD kNtNumberOfSections = 6;       // FileHeader.NumberOfSections
const DWORD kNtSizeOfOptionalHeader = 0x14;
const DWORD kNtOptionalMagic = 0x18;       // OptionalHeader.Magic
const DWORD kNtChecksum = 0x58;            // OptionalHeader.CheckSum, the same for both formats
const DWORD kNtSecurityEntry32 = 0x98;     // DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY], PE32
const DWORD kNtSecurityEntry64 = 0xA8;     // the same entry in PE32+
const DWORD kNtRvaCount32 = 0x74;          // OptionalHeader.NumberOfRvaAndSizes, PE32
const DWORD kNtRvaCount64 = 0x84;          // the same field in PE32+
const DWORD kSecurityEntryIndex = 4;       // IMAGE_DIRECTORY_ENTRY_SECURITY
const DWORD kNtSectionTable = 0x18;        // section table follows the optional header
const DWORD kSectionHeaderSize = 40;       // IMAGE_SECTION_HEADER
const DWORD kSectionSizeOfRawData = 16;
const DWORD kSectionPointerToRawData = 20;
const WORD kMagicPE32 = 0x10B;
const WORD kMagicPE32Plus = 0x20B;

WORD ReadU16(const BYTE* p)
{
    WORD w;
    memcpy(&w, p, sizeof(w));
    return w;
}

DWORD ReadU32(const BYTE* p)
{
    DWORD dw;
    memcpy(&dw, p, sizeof(dw));
    return dw;
}

// Open, and writable: a write of no bytes succeeds only on a handle opened for writing.
bool IsWritable(CFile& file)
{
    return file.IsOpen() && file.WriteEmpty();
}

typedef DWORD(WINAPI* PFN_MapFileAndCheckSumW)(PCWSTR, PDWORD, PDWORD);

}  // namespace

bool CPEFileHelper::ReadHeaders(CFile& file, bool bIgnoreCertificateBounds)
{
    if (m_bHeadersRead)
        return true;

    ULONGLONG ullFileLength = 0;
    if (!file.GetSize(&ullFileLength)) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(71) : CSignedPEFile::ReadHeaders() : GetLength() == FALSE\n");
        return false;
    }

    BYTE dosHeader[kDosHeaderSize];
    if (!file.ReadAt(0, dosHeader, sizeof(dosHeader))) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(79) : CSignedPEFile::ReadHeaders() : Read() == FALSE\n");
        return false;
    }
    if (ReadU16(dosHeader) != IMAGE_DOS_SIGNATURE) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(86) : CSignedPEFile::ReadHeaders() : "
                   L"IMAGE_DOS_SIGNATURE != dosHeader.e_magic\n");
        return false;
    }
    // e_lfanew is signed; a negative value makes the seek below fail.
    const LONGLONG llNtOffset = static_cast<LONG>(ReadU32(dosHeader + kDosLfanewOffset));

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kNtHeadersReadSize]);
    if (!buffer) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(95) : CSignedPEFile::ReadHeaders() : buffer.Alloc() == NULL\n");
        return false;
    }
    const BYTE* pNt = buffer.get();
    if (llNtOffset < 0 || !file.ReadAt(static_cast<ULONGLONG>(llNtOffset), buffer.get(), kNtHeadersReadSize)) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(103) : CSignedPEFile::ReadHeaders() : Read() == FALSE\n");
        return false;
    }
    if (ReadU32(pNt) != IMAGE_NT_SIGNATURE) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(110) : CSignedPEFile::ReadHeaders() : "
                   L"IMAGE_NT_SIGNATURE != pHeaders32->Signature\n");
        return false;
    }

    DWORD dwSecurityEntry = 0;
    DWORD dwRvaCount = 0;
    switch (ReadU16(pNt + kNtOptionalMagic)) {
    case kMagicPE32:
        dwSecurityEntry = kNtSecurityEntry32;
        dwRvaCount = kNtRvaCount32;
        break;
    case kMagicPE32Plus:
        dwSecurityEntry = kNtSecurityEntry64;
        dwRvaCount = kNtRvaCount64;
        break;
    default:
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(151) : CSignedPEFile::ReadHeaders() : Unknown PE header format\n");
        return false;
    }
    // The security entry lies at a fixed offset only in an optional header that holds it: in a
    // shorter one those bytes belong to the section table. Magic opens the optional header.
    const WORD wOptionalHeaderSize = ReadU16(pNt + kNtSizeOfOptionalHeader);
    const DWORD dwDirectories = ReadU32(pNt + dwRvaCount);
    if (wOptionalHeaderSize < dwSecurityEntry + 8 - kNtOptionalMagic || dwDirectories <= kSecurityEntryIndex) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(154) : CSignedPEFile::ReadHeaders() : "
                   L"no security directory entry (optional header %u bytes, %lu directory entries)\n",
                   static_cast<unsigned>(wOptionalHeaderSize), dwDirectories);
        return false;
    }
    m_dwChecksumOffset = static_cast<DWORD>(llNtOffset + kNtChecksum);
    m_dwSecurityEntryOffset = static_cast<DWORD>(llNtOffset + dwSecurityEntry);
    m_dwCertificateTableOffset = ReadU32(pNt + dwSecurityEntry);
    m_dwCertificateTableSize = ReadU32(pNt + dwSecurityEntry + 4);

    // Each value on its own must not exceed the file; a table that starts inside the file and
    // runs past its end is left for the readers of the table to notice.
    if (!bIgnoreCertificateBounds &&
        (static_cast<ULONGLONG>(m_dwCertificateTableOffset) > ullFileLength ||
         static_cast<ULONGLONG>(m_dwCertificateTableSize) > ullFileLength)) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(160) : CSignedPEFile::ReadHeaders() : "
                   L"m_dwWinCertificateLength > m_dwMaxCertificateSize\n");
        return false;
    }
    m_dwSecurityEntrySize = 8;
    m_dwChecksumSize = 4;

    // A file without sections has no last section header; reading one would take bytes of
    // the optional header for it.
    const WORD wSections = ReadU16(pNt + kNtNumberOfSections);
    const ULONGLONG ullLastSection = static_cast<ULONGLONG>(llNtOffset) + kNtSectionTable + wOptionalHeaderSize +
                                     (static_cast<ULONGLONG>(wSections) - 1) * kSectionHeaderSize;
    BYTE section[kSectionHeaderSize];
    if (wSections == 0 || !file.ReadAt(ullLastSection, section, sizeof(section))) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(185) : CSignedPEFile::ReadHeaders() : Read() == FALSE\n");
        return false;
    }
    // Both values come from the file: their sum must not wrap round to a small end of image.
    const ULONGLONG ullEndOfImage = static_cast<ULONGLONG>(ReadU32(section + kSectionPointerToRawData)) +
                                    ReadU32(section + kSectionSizeOfRawData);
    if (ullEndOfImage > 0xFFFFFFFFULL) {
        TraceError(L"ZIRA::CPEFileHelper::ReadHeaders(190) : CSignedPEFile::ReadHeaders() : "
                   L"end of image beyond 4 GB (%I64u)\n",
                   ullEndOfImage);
        return false;
    }
    m_dwEndOfImage = static_cast<DWORD>(ullEndOfImage);

    m_bHeadersRead = true;
    return true;
}

bool CPEFileHelper::UpdateSecurityDirectoryEntry(CFile& file)
{
    if (!IsWritable(file)) {
        TraceError(L"ZIRA::CPEFileHelper::UpdateSecurityDirectoryEntry(206) : file is not accessible");
        return false;
    }
    BYTE entry[8];
    memcpy(entry, &m_dwCertificateTableOffset, 4);
    memcpy(entry + 4, &m_dwCertificateTableSize, 4);
    if (!file.WriteAt(m_dwSecurityEntryOffset, entry, sizeof(entry)))
        return false;
    // MapFileAndCheckSumW reads the file by name afterwards: the entry must be on disk.
    file.Flush();
    return true;
}

bool CPEFileHelper::UpdateChecksum(CFile& file, const wchar_t* pszFileName)
{
    if (!IsWritable(file)) {
        TraceError(L"ZIRA::CPEFileHelper::UpdateChecksum(231) : file is not accessible");
        return false;
    }
    if (!pszFileName) {
        TraceError(L"ZIRA::CPEFileHelper::UpdateChecksum(237) : invalid parameter - filename");
        return false;
    }

    // Image help is no KnownDLL: load it from the system folder, never from beside the program.
    CSystemLibrary imagehlp(L"imagehlp.dll");
    auto pfnMapFileAndCheckSumW = imagehlp.Get<PFN_MapFileAndCheckSumW>("MapFileAndCheckSumW");
    DWORD dwHeaderSum = 0;
    DWORD dwChecksum = 0;
    DWORD dwResult = pfnMapFileAndCheckSumW ? pfnMapFileAndCheckSumW(pszFileName, &dwHeaderSum, &dwChecksum)
                                            : ::GetLastError();
    if (!pfnMapFileAndCheckSumW && dwResult == ERROR_SUCCESS)
        dwResult = ERROR_PROC_NOT_FOUND;
    if (dwResult != 0) {
        TraceError(L"ZIRA::CPEFileHelper::UpdateChecksum(246) : MapFileAndCheckSumW failed: %lu", dwResult);
        return false;
    }

    BYTE checksum[4];
    memcpy(checksum, &dwChecksum, sizeof(checksum));
    if (!file.WriteAt(m_dwChecksumOffset, checksum, sizeof(checksum))) {
        TraceError(L"ZIRA::CPEFileHelper::UpdateChecksum(253) : failed to write checksum to file");
        return false;
    }
    return true;
}

}  // namespace ZIRA
