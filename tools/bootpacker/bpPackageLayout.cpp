#include "bpPackageLayout.h"

#include "bpText.h"
#include "kqFile.h"
#include "kqMemory.h"
#include "kqMemoryArchive.h"
#include "ZIRA_PEFileHelper.h"

namespace {

// A pointer archive larger than this is damage, not a table (an entry takes some 60 bytes).
const DWORD kMaxPointerArchive = 16 * 1024 * 1024;
// The smallest entry: a name of one character and its NUL (1 + 4 + 4), a u64 (9), a u32 (5).
const DWORD kMinEntrySize = 23;

bool ReadU32At(CFile& file, ULONGLONG ullPosition, DWORD* pdwValue)
{
    return file.ReadAt(ullPosition, pdwValue, sizeof(*pdwValue));
}

bool ReadFacts(CFile& file, const std::string& strSource, ZIRA::CPEFileHelper& helper, PeFacts& facts,
               std::string& strError)
{
    if (!file.GetSize(&facts.ullFileSize)) {
        strError = strSource + ": cannot read the file size (error " + std::to_string(file.GetLastError()) + ")";
        return false;
    }
    if (!helper.ReadHeaders(file, false)) {
        strError = strSource + ": not a PE file (no valid DOS, PE or section headers)";
        return false;
    }
    DWORD dwNtOffset = 0;
    WORD wMachine = 0;
    WORD wMagic = 0;
    if (!ReadU32At(file, 0x3C, &dwNtOffset) || !file.ReadAt(static_cast<ULONGLONG>(dwNtOffset) + 4, &wMachine, 2) ||
        !file.ReadAt(static_cast<ULONGLONG>(dwNtOffset) + 0x18, &wMagic, 2) ||
        !ReadU32At(file, helper.m_dwChecksumOffset, &facts.dwChecksum)) {
        strError = strSource + ": not a PE file (headers cannot be read)";
        return false;
    }
    facts.wMachine = wMachine;
    facts.bPE32Plus = wMagic == 0x20B;
    facts.dwEndOfImage = helper.m_dwEndOfImage;
    facts.dwSecurityOffset = helper.m_dwCertificateTableOffset;
    facts.dwSecuritySize = helper.m_dwCertificateTableSize;
    if (facts.dwEndOfImage > facts.ullFileSize) {
        strError = strSource + ": not a complete PE file (its last section ends beyond the end of the file)";
        return false;
    }
    return true;
}

bool Open(CFile& file, const std::wstring& strPath, const std::string& strSource, std::string& strError)
{
    if (file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0))
        return true;
    strError = strSource + ": cannot open the file (error " + std::to_string(file.GetLastError()) + ")";
    return false;
}

// The package's own certificate table: a real certificate, then the settings block; or the
// settings block alone (an unsigned package).
bool ReadCertificateTable(CFile& file, const std::string& strSource, PackageLayout& layout, std::string& strError)
{
    const ULONGLONG ullFileSize = layout.pe.ullFileSize;
    const DWORD dwTable = layout.pe.dwSecurityOffset;
    if (dwTable != 0 && layout.pe.dwSecuritySize != 0) {
        if (dwTable < layout.ullPayloadEnd) {
            strError = strSource + ": the certificate table overlaps the package entries";
            return false;
        }
        DWORD dwFirst = 0;
        DWORD dwSecond = 0;
        if (!ReadU32At(file, dwTable, &dwFirst) || !ReadU32At(file, static_cast<ULONGLONG>(dwTable) + 4, &dwSecond)) {
            strError = strSource + ": the certificate table cannot be read";
            return false;
        }
        ULONGLONG ullBlock = dwTable;
        if (dwSecond != kSettingsBlockMagic && dwSecond != kSettingsBlockMagicV0) {
            layout.bSigned = true;
            layout.dwCertificateLength = dwFirst;
            ullBlock = static_cast<ULONGLONG>(dwTable) + dwFirst;
        }
        DWORD dwBlockSize = 0;
        DWORD dwBlockMagic = 0;
        if (ullBlock + 8 <= ullFileSize && ReadU32At(file, ullBlock, &dwBlockSize) &&
            ReadU32At(file, ullBlock + 4, &dwBlockMagic) &&
            (dwBlockMagic == kSettingsBlockMagic || dwBlockMagic == kSettingsBlockMagicV0)) {
            layout.bHasSettingsBlock = true;
            layout.dwSettingsBlockOffset = static_cast<DWORD>(ullBlock);
            layout.dwSettingsBlockSize = dwBlockSize;
            layout.dwSettingsBlockVersion = 0;
            if (dwBlockMagic == kSettingsBlockMagic)
                ReadU32At(file, ullBlock + 8, &layout.dwSettingsBlockVersion);
        }
    }
    return true;
}

}  // namespace

std::string PackageFileTypeName(DWORD dwType)
{
    switch (dwType) {
    case ZIRA::eFileType_ProductPackage: return "product";
    case ZIRA::eFileType_InstallPackage: return "install";
    case ZIRA::eFileType_AuxPackage: return "aux";
    case ZIRA::eFileType_UIPackage: return "ui";
    case ZIRA::eFileType_Stub: return "stub";
    default: return std::to_string(dwType);
    }
}

bool ReadPeFacts(const std::wstring& strPath, PeFacts& facts, std::string& strError)
{
    const std::string strSource = ToUtf8(strPath);
    CFile file;
    if (!Open(file, strPath, strSource, strError))
        return false;
    ZIRA::CPEFileHelper helper;
    return ReadFacts(file, strSource, helper, facts, strError);
}

bool ReadPackageLayout(const std::wstring& strPath, PackageLayout& layout, std::string& strError)
{
    const std::string strSource = ToUtf8(strPath);
    layout = PackageLayout();
    CFile file;
    if (!Open(file, strPath, strSource, strError))
        return false;
    ZIRA::CPEFileHelper helper;
    if (!ReadFacts(file, strSource, helper, layout.pe, strError))
        return false;
    const ULONGLONG ullFileSize = layout.pe.ullFileSize;

    // The stub's certificate (or a zero length word) at the end of image, then the table.
    const ULONGLONG ullEnd = layout.pe.dwEndOfImage;
    if (!ReadU32At(file, ullEnd, &layout.dwStubCertificateLength)) {
        strError = strSource + ": no package: nothing follows the image";
        return false;
    }
    layout.ullTableOffset = ullEnd + (layout.dwStubCertificateLength ? layout.dwStubCertificateLength : 4);
    BYTE header[kPackageTableHeaderSize];
    if (layout.ullTableOffset + sizeof(header) > ullFileSize || !file.ReadAt(layout.ullTableOffset, header, sizeof(header))) {
        strError = strSource + ": no package table after the stub's certificate";
        return false;
    }
    DWORD dwMagic = 0;
    memcpy(&dwMagic, header, 4);
    memcpy(&layout.dwTableVersion, header + 4, 4);
    memcpy(&layout.ullEntryCount, header + 8, 8);
    memcpy(&layout.dwPointerArchiveLength, header + 16, 4);
    if (dwMagic != ZIRA::kPackageTableMagic) {
        strError = strSource + ": no package table (\"pcPB\") after the stub's certificate";
        return false;
    }
    if (layout.dwTableVersion > ZIRA::kPackageTableVersion) {
        strError = strSource + ": package table version " + std::to_string(layout.dwTableVersion) + " is not supported";
        return false;
    }
    const ULONGLONG ullArchiveStart = layout.ullTableOffset + kPackageTableHeaderSize;
    const DWORD dwArchiveLength = layout.dwPointerArchiveLength;
    if (dwArchiveLength > kMaxPointerArchive || ullArchiveStart + dwArchiveLength > ullFileSize ||
        layout.ullEntryCount > dwArchiveLength / kMinEntrySize) {
        strError = strSource + ": the package table's sizes do not fit the file (" +
                   std::to_string(layout.ullEntryCount) + " entries in " + std::to_string(dwArchiveLength) + " bytes)";
        return false;
    }

    CMemory memory;
    if (dwArchiveLength && !memory.Allocate(dwArchiveLength)) {
        strError = "out of memory";
        return false;
    }
    if (dwArchiveLength && !file.ReadAt(ullArchiveStart, memory.GetData(), dwArchiveLength)) {
        strError = strSource + ": cannot read the package table (error " + std::to_string(file.GetLastError()) + ")";
        return false;
    }
    CMemoryArchive archive(memory, eArchiveMode_Load);
    ULONGLONG ullOffset = ullArchiveStart + dwArchiveLength;
    try {
        for (ULONGLONG i = 0; i < layout.ullEntryCount; ++i) {
            PackageEntryInfo entry;
            if (!archive.ReadStringW(entry.strName) || !archive.ReadULongLong(&entry.ullSize) ||
                !archive.ReadDWord(&entry.dwType)) {
                strError = strSource + ": package table entry " + std::to_string(i) + " cannot be read";
                return false;
            }
            entry.ullOffset = ullOffset;
            if (entry.ullSize > ullFileSize || ullOffset + entry.ullSize > ullFileSize) {
                strError = strSource + ": package entry \"" + ToUtf8(entry.strName) + "\" runs past the end of the file";
                return false;
            }
            ullOffset += entry.ullSize;
            layout.entries.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        strError = "out of memory";
        return false;
    }
    layout.ullPayloadEnd = ullOffset;

    return ReadCertificateTable(file, strSource, layout, strError);
}

bool HasSettingsBlock(const std::wstring& strPath)
{
    PackageLayout layout;
    std::string strError;
    CFile file;
    ZIRA::CPEFileHelper helper;
    return Open(file, strPath, "", strError) && ReadFacts(file, "", helper, layout.pe, strError) &&
           ReadCertificateTable(file, "", layout, strError) && layout.bHasSettingsBlock;
}
