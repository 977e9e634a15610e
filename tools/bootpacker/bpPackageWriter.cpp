#include "bpPackageWriter.h"

#include <memory>
#include <new>
#include <set>

#include "bpPackageWalk.h"
#include "bpText.h"
#include "kqFile.h"
#include "kqMemory.h"
#include "kqMemoryArchive.h"
#include "ZIRA_PEFileHelper.h"

namespace {

const DWORD kCopyChunk = 1024 * 1024;

std::string SystemError(const CFile& file)
{
    return "error " + std::to_string(file.GetLastError());
}

// Copies ullCount bytes from source at ullFrom to the destination's current position.
bool CopyRange(CFile& source, ULONGLONG ullFrom, ULONGLONG ullCount, CFile& destination, BYTE* pBuffer)
{
    if (!source.SetPosition(ullFrom))
        return false;
    while (ullCount > 0) {
        const DWORD dwChunk = static_cast<DWORD>(ullCount < kCopyChunk ? ullCount : kCopyChunk);
        if (!source.Read(pBuffer, dwChunk) || !destination.Write(pBuffer, dwChunk))
            return false;
        ullCount -= dwChunk;
    }
    return true;
}

// Compares ullCount bytes of two files at their offsets.
bool SameRange(CFile& a, ULONGLONG ullA, CFile& b, ULONGLONG ullB, ULONGLONG ullCount, BYTE* pBufferA, BYTE* pBufferB)
{
    if (!a.SetPosition(ullA) || !b.SetPosition(ullB))
        return false;
    while (ullCount > 0) {
        const DWORD dwChunk = static_cast<DWORD>(ullCount < kCopyChunk ? ullCount : kCopyChunk);
        if (!a.Read(pBufferA, dwChunk) || !b.Read(pBufferB, dwChunk) || memcmp(pBufferA, pBufferB, dwChunk) != 0)
            return false;
        ullCount -= dwChunk;
    }
    return true;
}

bool OpenForReading(CFile& file, const std::wstring& strPath)
{
    return file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
}

bool BuildPointerArchive(const std::vector<PackageInput>& inputs, const std::vector<ULONGLONG>& sizes, CMemory& memory,
                         std::string& strError)
{
    CMemoryArchive archive(memory, eArchiveMode_Store);
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::wstring strName = EntryName(inputs[i].strPath);
        if (!archive.WriteStringW(strName.c_str()) || !archive.WriteULongLong(sizes[i]) ||
            !archive.WriteDWord(inputs[i].dwType)) {
            strError = "out of memory";
            return false;
        }
    }
    return true;
}

}  // namespace

std::wstring EntryName(const std::wstring& strPath)
{
    const size_t pos = strPath.find_last_of(L"\\/:");
    return pos == std::wstring::npos ? strPath : strPath.substr(pos + 1);
}

ULONGLONG PackageFileSize(const StubInfo& stub, DWORD dwPointerArchiveLength, const std::vector<ULONGLONG>& sizes)
{
    const ULONGLONG ullMax = ~0ULL - 8;
    ULONGLONG ullSize = static_cast<ULONGLONG>(stub.pe.dwEndOfImage) +
                        (stub.dwCertificateLength ? stub.dwCertificateLength : sizeof(DWORD)) +
                        kPackageTableHeaderSize + dwPointerArchiveLength;
    for (ULONGLONG ullEntry : sizes)
        ullSize = ullEntry > ullMax - ullSize ? ullMax : ullSize + ullEntry;
    return (ullSize + 7) / 8 * 8;
}

bool CheckStub(const std::wstring& strPath, StubInfo& info, std::string& strError)
{
    const std::string strSource = ToUtf8(strPath);
    info = StubInfo();
    if (GetFileAttributesW(strPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        strError = "stub " + strSource + ": the file does not exist";
        return false;
    }
    std::string strProblem;
    if (!ReadPeFacts(strPath, info.pe, strProblem)) {
        strError = "stub " + strProblem;
        return false;
    }
    const PeFacts& pe = info.pe;
    if (pe.dwSecurityOffset == 0 && pe.dwSecuritySize == 0) {
        if (pe.ullFileSize != pe.dwEndOfImage) {
            strError = "stub " + strSource + ": " + std::to_string(pe.ullFileSize - pe.dwEndOfImage) +
                       " bytes follow its last section (a COFF symbol table or other data); strip the program "
                       "(link with -s) so that nothing follows its image";
            return false;
        }
        return true;
    }
    if (pe.dwSecurityOffset != pe.dwEndOfImage) {
        strError = "stub " + strSource + ": its certificate table starts at " + std::to_string(pe.dwSecurityOffset) +
                   ", not at its end of image " + std::to_string(pe.dwEndOfImage) +
                   " (a COFF symbol table or other data lies behind its last section); strip the program before "
                   "signing it";
        return false;
    }
    if (static_cast<ULONGLONG>(pe.dwSecurityOffset) + pe.dwSecuritySize != pe.ullFileSize) {
        strError = "stub " + strSource + ": data follows its certificate table";
        return false;
    }
    CFile file;
    DWORD dwHeader[2] = {};
    if (pe.dwSecuritySize < sizeof(dwHeader) || !OpenForReading(file, strPath) ||
        !file.ReadAt(pe.dwEndOfImage, dwHeader, sizeof(dwHeader))) {
        strError = "stub " + strSource + ": cannot read its certificate table (" + SystemError(file) + ")";
        return false;
    }
    // An unsigned stub that carries settings of its own has the settings block as its whole
    // table: it counts as unsigned, and its old settings are not carried into the package.
    if (dwHeader[1] == kSettingsBlockMagic || dwHeader[1] == kSettingsBlockMagicV0)
        return true;
    // WIN_CERTIFICATE: wRevision 0x0200, wCertificateType 2 (PKCS#7 signed data).
    if (dwHeader[1] != 0x00020200) {
        strError = "stub " + strSource + ": its certificate table does not start with an Authenticode certificate";
        return false;
    }
    info.dwCertificateLength = dwHeader[0];
    if (info.dwCertificateLength < 8 || info.dwCertificateLength > pe.dwSecuritySize) {
        strError = "stub " + strSource + ": its certificate length " + std::to_string(info.dwCertificateLength) +
                   " does not fit its certificate table";
        return false;
    }
    return true;
}

bool AddDistinctEntryName(std::set<std::wstring>& names, const std::wstring& strName)
{
    if (strName.empty())
        return false;
    std::wstring strUpper = strName;
    CharUpperBuffW(&strUpper[0], static_cast<DWORD>(strUpper.size()));
    return names.insert(strUpper).second;
}

bool CheckInputs(const std::vector<PackageInput>& inputs, std::string& strError)
{
    std::set<std::wstring> names;
    for (const PackageInput& input : inputs) {
        const std::string strSource = ToUtf8(input.strPath);
        const DWORD dwAttributes = GetFileAttributesW(input.strPath.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
            strError = "archive " + strSource + " (" + PackageFileTypeName(input.dwType) + "): the file does not exist";
            return false;
        }
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            strError = "archive " + strSource + " (" + PackageFileTypeName(input.dwType) + "): is a folder, not a file";
            return false;
        }
        const std::wstring strName = EntryName(input.strPath);
        if (!AddDistinctEntryName(names, strName)) {
            strError = "archive " + strSource + ": another archive has the same file name \"" + ToUtf8(strName) +
                       "\"; the entries of a package need different names";
            return false;
        }
    }
    return true;
}

bool WritePackageFile(const std::wstring& strStub, const StubInfo& stub, const std::vector<PackageInput>& inputs,
                      const std::wstring& strOutput, std::string& strError)
{
    const std::string strTarget = ToUtf8(strOutput);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCopyChunk]);
    if (!buffer) {
        strError = "out of memory";
        return false;
    }

    std::vector<ULONGLONG> sizes;
    for (const PackageInput& input : inputs) {
        CFile file;
        ULONGLONG ullSize = 0;
        if (!OpenForReading(file, input.strPath) || !file.GetSize(&ullSize)) {
            strError = "archive " + ToUtf8(input.strPath) + ": cannot read it (" + SystemError(file) + ")";
            return false;
        }
        sizes.push_back(ullSize);
    }
    CMemory pointerArchive;
    if (!BuildPointerArchive(inputs, sizes, pointerArchive, strError))
        return false;
    // Refused before anything is copied: the certificate table's offset is a 32-bit field.
    if (PackageFileSize(stub, pointerArchive.GetSize(), sizes) > 0xFFFFFFFFull) {
        strError = strTarget + ": a package of 4 GB or more cannot be signed";
        return false;
    }

    CFile out;
    if (!out.Open(strOutput.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0)) {
        strError = strTarget + ": cannot create the file (" + SystemError(out) + ")";
        return false;
    }
    auto writeFailed = [&]() {
        strError = strTarget + ": cannot write the file (" + SystemError(out) + ")";
        return false;
    };

    // The stub's image and its own certificate, exactly as signed; a zero word when unsigned.
    CFile stubFile;
    if (!OpenForReading(stubFile, strStub)) {
        strError = "stub " + ToUtf8(strStub) + ": cannot open it (" + SystemError(stubFile) + ")";
        return false;
    }
    if (!CopyRange(stubFile, 0, static_cast<ULONGLONG>(stub.pe.dwEndOfImage) + stub.dwCertificateLength, out,
                   buffer.get())) {
        strError = "stub " + ToUtf8(strStub) + ": cannot copy it into " + strTarget;
        return false;
    }
    if (stub.dwCertificateLength == 0) {
        const DWORD dwZero = 0;
        if (!out.Write(&dwZero, sizeof(dwZero)))
            return writeFailed();
    }

    BYTE header[kPackageTableHeaderSize];
    const ULONGLONG ullCount = inputs.size();
    const DWORD dwArchiveLength = pointerArchive.GetSize();
    memcpy(header, &ZIRA::kPackageTableMagic, 4);
    memcpy(header + 4, &ZIRA::kPackageTableVersion, 4);
    memcpy(header + 8, &ullCount, 8);
    memcpy(header + 16, &dwArchiveLength, 4);
    if (!out.Write(header, sizeof(header)) ||
        (dwArchiveLength && !out.Write(pointerArchive.GetData(), dwArchiveLength)))
        return writeFailed();

    for (size_t i = 0; i < inputs.size(); ++i) {
        CFile input;
        if (!OpenForReading(input, inputs[i].strPath) || !CopyRange(input, 0, sizes[i], out, buffer.get())) {
            strError = "archive " + ToUtf8(inputs[i].strPath) + ": cannot copy it into " + strTarget;
            return false;
        }
    }

    // A certificate table must start on an 8-byte boundary.
    ULONGLONG ullEnd = 0;
    if (!out.GetPosition(&ullEnd))
        return writeFailed();
    const BYTE zeros[8] = {};
    const DWORD dwPad = static_cast<DWORD>((8 - ullEnd % 8) % 8);
    if (dwPad && !out.Write(zeros, dwPad))
        return writeFailed();
    if (!out.Flush())
        return writeFailed();

    // The copied stub's signature covers only the stub: the package is unsigned until signed.
    ZIRA::CPEFileHelper helper;
    if (!helper.ReadHeaders(out, true)) {
        strError = strTarget + ": cannot read back the headers";
        return false;
    }
    helper.m_dwCertificateTableOffset = 0;
    helper.m_dwCertificateTableSize = 0;
    if (!helper.UpdateSecurityDirectoryEntry(out) || !helper.UpdateChecksum(out, strOutput.c_str()) || !out.Flush()) {
        strError = strTarget + ": cannot clear the security directory or update the checksum";
        return false;
    }
    return true;
}

bool VerifyPackageContents(const std::wstring& strPackage, const std::wstring& strStub, const StubInfo& stub,
                           const std::vector<PackageInput>& inputs, std::string& strError)
{
    const std::string strSource = ToUtf8(strPackage);
    PackageLayout layout;
    std::string strProblem;
    if (!ReadPackageLayout(strPackage, layout, strProblem)) {
        strError = "read-back: " + strProblem;
        return false;
    }
    if (layout.pe.dwEndOfImage != stub.pe.dwEndOfImage || layout.dwStubCertificateLength != stub.dwCertificateLength ||
        layout.dwTableVersion != ZIRA::kPackageTableVersion || layout.entries.size() != inputs.size()) {
        strError = "read-back: " + strSource + ": the stub or the package table differs from what was written";
        return false;
    }
    std::unique_ptr<BYTE[]> a(new (std::nothrow) BYTE[kCopyChunk]);
    std::unique_ptr<BYTE[]> b(new (std::nothrow) BYTE[kCopyChunk]);
    if (!a || !b) {
        strError = "out of memory";
        return false;
    }
    CFile package;
    CFile stubFile;
    if (!OpenForReading(package, strPackage) || !OpenForReading(stubFile, strStub)) {
        strError = "read-back: cannot open " + strSource + " or the stub";
        return false;
    }
    // The image up to the checksum and security entry differ by design; compare the sections
    // and the certificate, which the package must carry unchanged.
    ZIRA::CPEFileHelper helper;
    if (!helper.ReadHeaders(stubFile, false)) {
        strError = "read-back: cannot read the stub's headers";
        return false;
    }
    const ULONGLONG ullAfterEntry = static_cast<ULONGLONG>(helper.m_dwSecurityEntryOffset) + 8;
    const ULONGLONG ullStubEnd = static_cast<ULONGLONG>(stub.pe.dwEndOfImage) + stub.dwCertificateLength;
    if (!SameRange(package, ullAfterEntry, stubFile, ullAfterEntry, ullStubEnd - ullAfterEntry, a.get(), b.get())) {
        strError = "read-back: " + strSource + ": the stub's image or certificate differs from the stub";
        return false;
    }
    // The entries as the bootstrap program will walk them: names, types, sizes and bytes.
    if (!CompareWithPackageReader(strPackage, inputs, strProblem)) {
        strError = "read-back: " + strProblem;
        return false;
    }
    return true;
}
