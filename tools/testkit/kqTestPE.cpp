#include "kqTestPE.h"

#include <cstddef>
#include <cstring>

#include <gtest/gtest.h>
#include <imagehlp.h>

namespace kqtest {

namespace {

template <typename TNtHeaders>
void ReadFormat(const BYTE* pBytes, size_t cbBytes, size_t nt, PEFacts& facts)
{
    TNtHeaders headers;
    memcpy(&headers, pBytes + nt, sizeof(headers));
    const size_t sections = nt + offsetof(TNtHeaders, OptionalHeader) + headers.FileHeader.SizeOfOptionalHeader;
    const WORD wSections = headers.FileHeader.NumberOfSections;
    if (wSections == 0 || sections + static_cast<size_t>(wSections) * sizeof(IMAGE_SECTION_HEADER) > cbBytes)
        return;
    facts.wMagic = headers.OptionalHeader.Magic;
    facts.checksumOffset = nt + offsetof(TNtHeaders, OptionalHeader.CheckSum);
    facts.securityEntryOffset = nt + offsetof(TNtHeaders, OptionalHeader.DataDirectory) +
                                IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    facts.dwCertificateOffset = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].VirtualAddress;
    facts.dwCertificateSize = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size;
    facts.dwChecksum = headers.OptionalHeader.CheckSum;
    IMAGE_SECTION_HEADER last;
    memcpy(&last, pBytes + sections + (wSections - 1) * sizeof(IMAGE_SECTION_HEADER), sizeof(last));
    facts.dwEndOfImage = last.PointerToRawData + last.SizeOfRawData;
    facts.bValid = true;
}

PEFacts ReadFacts(const BYTE* pBytes, size_t cbBytes)
{
    PEFacts facts;
    IMAGE_DOS_HEADER dos;
    if (cbBytes < sizeof(dos))
        return facts;
    memcpy(&dos, pBytes, sizeof(dos));
    if (dos.e_lfanew <= 0 || static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > cbBytes)
        return facts;
    const size_t nt = static_cast<size_t>(dos.e_lfanew);
    WORD wMagic = 0;
    memcpy(&wMagic, pBytes + nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Magic), 2);
    if (wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        ReadFormat<IMAGE_NT_HEADERS32>(pBytes, cbBytes, nt, facts);
    else if (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        ReadFormat<IMAGE_NT_HEADERS64>(pBytes, cbBytes, nt, facts);
    return facts;
}

}  // namespace

DWORD GetU32(const std::vector<BYTE>& bytes, size_t offset)
{
    DWORD dwValue = 0;
    if (offset <= bytes.size() && bytes.size() - offset >= 4)
        memcpy(&dwValue, &bytes[offset], 4);
    return dwValue;
}

bool PutU32(std::vector<BYTE>& bytes, size_t offset, DWORD dwValue)
{
    // A test that patches past its buffer has a wrong offset: say so rather than write beyond it.
    if (offset > bytes.size() || bytes.size() - offset < 4) {
        ADD_FAILURE() << "PutU32 at offset " << offset << " does not fit a buffer of " << bytes.size() << " bytes";
        return false;
    }
    memcpy(&bytes[offset], &dwValue, 4);
    return true;
}

PEFacts ReadPEFacts(const std::vector<BYTE>& bytes)
{
    return ReadFacts(bytes.data(), bytes.size());
}

PEFacts ReadPEFacts(const std::string& bytes)
{
    return ReadFacts(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}

DWORD ImageHelpChecksum(const std::wstring& strPath)
{
    DWORD dwHeaderSum = 0;
    DWORD dwChecksum = 0;
    EXPECT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), MapFileAndCheckSumW(strPath.c_str(), &dwHeaderSum, &dwChecksum))
        << "checksum of " << std::string(strPath.begin(), strPath.end());
    return dwChecksum;
}

}  // namespace kqtest
