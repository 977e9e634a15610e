// Reads what a package file holds: the PE facts of the stub, the stub's certificate length, the
// package table and its entries (with the file offset of each entry's data) and the package's
// own certificate table (whether a real signature comes first, and where the settings block
// lies). Everything read is checked against the file's length before it is used.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The entry types (ZIRA::eFileType_*), the table's magic and its version are the library's.
#include "ZIRA_FilePacker.h"

constexpr DWORD kPackageTableHeaderSize = 20;
constexpr DWORD kSettingsBlockMagic = 0x50417062;    // "bpAP"
constexpr DWORD kSettingsBlockMagicV0 = 0x62704170;

// "product", "install", "aux", "ui", "stub", or the number for another type.
std::string PackageFileTypeName(DWORD dwType);

struct PackageEntryInfo
{
    std::wstring strName;
    ULONGLONG ullSize = 0;
    DWORD dwType = 0;
    ULONGLONG ullOffset = 0;  // file offset of the entry's first byte
};

struct PeFacts
{
    WORD wMachine = 0;
    bool bPE32Plus = false;
    ULONGLONG ullFileSize = 0;
    DWORD dwEndOfImage = 0;
    DWORD dwChecksum = 0;
    DWORD dwSecurityOffset = 0;  // the security directory entry as stored
    DWORD dwSecuritySize = 0;
};

struct PackageLayout
{
    PeFacts pe;
    DWORD dwStubCertificateLength = 0;  // dwLength of the certificate at the end of image; 0 unsigned
    ULONGLONG ullTableOffset = 0;
    DWORD dwTableVersion = 0;
    ULONGLONG ullEntryCount = 0;
    DWORD dwPointerArchiveLength = 0;
    std::vector<PackageEntryInfo> entries;
    ULONGLONG ullPayloadEnd = 0;        // first byte after the last entry
    bool bSigned = false;               // the package's certificate table starts with a real certificate
    DWORD dwCertificateLength = 0;      // its dwLength
    bool bHasSettingsBlock = false;
    DWORD dwSettingsBlockOffset = 0;
    DWORD dwSettingsBlockSize = 0;      // the block's total size field
    DWORD dwSettingsBlockVersion = 0;
};

// The PE facts alone (for the stub check); false with a message when the file is not PE.
bool ReadPeFacts(const std::wstring& strPath, PeFacts& facts, std::string& strError);
// Whether the file's certificate table holds a settings block (after a certificate or alone).
bool HasSettingsBlock(const std::wstring& strPath);
// Everything; false with a message when the file is not a package or its table is damaged.
bool ReadPackageLayout(const std::wstring& strPath, PackageLayout& layout, std::string& strError);
