// CPEFileHelper on images made here from bytes (PE32 and PE32+), on the programs of this build
// and on signed copies of them made by the zira_signed fixtures.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ZIRA_PEFileHelper.h"
#include "kqFile.h"
#include "kqTestFiles.h"
#include "kqTestPE.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"
#include "kqTestTrace.h"

using ZIRA::CPEFileHelper;

namespace {

const wchar_t kMsgGetLength[] = L"ZIRA::CPEFileHelper::ReadHeaders(71) : CSignedPEFile::ReadHeaders() : GetLength() == FALSE";
const wchar_t kMsgReadDos[] = L"ZIRA::CPEFileHelper::ReadHeaders(79) : CSignedPEFile::ReadHeaders() : Read() == FALSE";
const wchar_t kMsgDosSignature[] =
    L"ZIRA::CPEFileHelper::ReadHeaders(86) : CSignedPEFile::ReadHeaders() : IMAGE_DOS_SIGNATURE != dosHeader.e_magic";
const wchar_t kMsgReadNt[] = L"ZIRA::CPEFileHelper::ReadHeaders(103) : CSignedPEFile::ReadHeaders() : Read() == FALSE";
const wchar_t kMsgNtSignature[] =
    L"ZIRA::CPEFileHelper::ReadHeaders(110) : CSignedPEFile::ReadHeaders() : IMAGE_NT_SIGNATURE != pHeaders32->Signature";
const wchar_t kMsgUnknownFormat[] =
    L"ZIRA::CPEFileHelper::ReadHeaders(151) : CSignedPEFile::ReadHeaders() : Unknown PE header format";
const wchar_t kMsgCertificateBounds[] = L"ZIRA::CPEFileHelper::ReadHeaders(160) : CSignedPEFile::ReadHeaders() : "
                                        L"m_dwWinCertificateLength > m_dwMaxCertificateSize";
const wchar_t kMsgNoSecurityEntry[] = L"ZIRA::CPEFileHelper::ReadHeaders(154) : CSignedPEFile::ReadHeaders() : "
                                      L"no security directory entry (optional header ";
const wchar_t kMsgEndOfImageBeyond4GB[] = L"ZIRA::CPEFileHelper::ReadHeaders(190) : CSignedPEFile::ReadHeaders() : "
                                          L"end of image beyond 4 GB (4294967552)";
const wchar_t kMsgReadSection[] = L"ZIRA::CPEFileHelper::ReadHeaders(185) : CSignedPEFile::ReadHeaders() : Read() == FALSE";
const wchar_t kMsgEntryNotAccessible[] =
    L"ZIRA::CPEFileHelper::UpdateSecurityDirectoryEntry(206) : file is not accessible";
const wchar_t kMsgChecksumNotAccessible[] = L"ZIRA::CPEFileHelper::UpdateChecksum(231) : file is not accessible";
const wchar_t kMsgNoFileName[] = L"ZIRA::CPEFileHelper::UpdateChecksum(237) : invalid parameter - filename";
const wchar_t kMsgMapFailed[] = L"ZIRA::CPEFileHelper::UpdateChecksum(246) : MapFileAndCheckSumW failed: ";

const LONG kNoSignature = static_cast<LONG>(0x800B0100);  // TRUST_E_NOSIGNATURE

// Every line the helper logs starts with its class name.
size_t HelperErrorLines() { return kqtest::CountTraceLines(L"Error : ZIRA::CPEFileHelper::"); }

using kqtest::GetU32;
using kqtest::PutU32;
void PutU16(std::vector<BYTE>& bytes, size_t offset, WORD w) { memcpy(&bytes[offset], &w, 2); }

using kqtest::PEFacts;

PEFacts ReadFacts(const std::vector<BYTE>& bytes)
{
    return kqtest::ReadPEFacts(bytes);
}

// A small image: headers in the first 0x400 bytes, then the sections' raw data one after the
// other, each a different size so that the last one is recognisable.
struct ImageSpec
{
    WORD wMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    LONG lNtOffset = 0x80;
    WORD wSections = 3;
    DWORD dwCertificateOffset = 0;
    DWORD dwCertificateSize = 0;
    DWORD dwTrailingBytes = 0;  // bytes behind the last section (a certificate table, say)
};

const DWORD kHeadersSize = 0x400;

DWORD SectionRawSize(WORD wIndex) { return 0x200 * (wIndex + 1); }

template <typename TNtHeaders>
void FillHeaders(std::vector<BYTE>& image, const ImageSpec& spec, WORD wMachine)
{
    TNtHeaders nt = {};
    nt.Signature = IMAGE_NT_SIGNATURE;
    nt.FileHeader.Machine = wMachine;
    nt.FileHeader.NumberOfSections = spec.wSections;
    nt.FileHeader.SizeOfOptionalHeader = sizeof(nt.OptionalHeader);
    nt.FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE;
    nt.OptionalHeader.Magic = spec.wMagic;
    nt.OptionalHeader.SectionAlignment = 0x1000;
    nt.OptionalHeader.FileAlignment = 0x200;
    nt.OptionalHeader.SizeOfHeaders = kHeadersSize;
    nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI;
    nt.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    nt.OptionalHeader.CheckSum = 0;
    nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].VirtualAddress = spec.dwCertificateOffset;
    nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size = spec.dwCertificateSize;
    memcpy(&image[spec.lNtOffset], &nt, sizeof(nt));
    DWORD dwRaw = kHeadersSize;
    DWORD dwVirtual = 0x1000;
    size_t table = spec.lNtOffset + offsetof(TNtHeaders, OptionalHeader) + sizeof(nt.OptionalHeader);
    for (WORD i = 0; i < spec.wSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        memcpy(section.Name, ".data", 5);
        section.Name[5] = static_cast<BYTE>('0' + i);
        section.VirtualAddress = dwVirtual;
        section.Misc.VirtualSize = SectionRawSize(i);
        section.PointerToRawData = dwRaw;
        section.SizeOfRawData = SectionRawSize(i);
        section.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
        memcpy(&image[table + i * sizeof(section)], &section, sizeof(section));
        dwRaw += section.SizeOfRawData;
        dwVirtual += 0x1000 * (i + 1);
    }
}

std::vector<BYTE> MakeImage(const ImageSpec& spec)
{
    DWORD dwSize = kHeadersSize;
    for (WORD i = 0; i < spec.wSections; ++i)
        dwSize += SectionRawSize(i);
    std::vector<BYTE> image(dwSize + spec.dwTrailingBytes);
    for (size_t i = kHeadersSize; i < image.size(); ++i)
        image[i] = static_cast<BYTE>(i * 7 + 3);
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, offsetof(IMAGE_DOS_HEADER, e_lfanew), static_cast<DWORD>(spec.lNtOffset));
    if (spec.wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        FillHeaders<IMAGE_NT_HEADERS64>(image, spec, IMAGE_FILE_MACHINE_AMD64);
    else
        FillHeaders<IMAGE_NT_HEADERS32>(image, spec, IMAGE_FILE_MACHINE_I386);
    return image;
}

bool OpenForReading(CFile& file, const std::wstring& strPath)
{
    return file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0);
}

bool OpenForWriting(CFile& file, const std::wstring& strPath)
{
    return file.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0);
}

// Image help's own result for a file: the checksum stored in it and the one it should hold.
struct ImageHelpSums
{
    DWORD dwResult = 0xFFFFFFFF;
    DWORD dwHeaderSum = 0;
    DWORD dwChecksum = 0;
};

ImageHelpSums MapFileSums(const std::wstring& strPath)
{
    ImageHelpSums sums;
    sums.dwResult = MapFileAndCheckSumW(strPath.c_str(), &sums.dwHeaderSum, &sums.dwChecksum);
    return sums;
}

class PEFileHelperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_temp.Path().empty());
        kqtest::ClearTrace();
    }

    std::wstring WriteImage(const std::vector<BYTE>& bytes, const wchar_t* pszName = L"image.exe")
    {
        std::wstring strPath = m_temp.File(pszName);
        EXPECT_TRUE(kqtest::WriteFileBytes(strPath, bytes));
        return strPath;
    }

    std::vector<BYTE> ReadBack(const std::wstring& strPath)
    {
        std::vector<BYTE> bytes;
        EXPECT_TRUE(kqtest::ReadFileBytes(strPath, bytes));
        return bytes;
    }

    kqtest::CTempDir m_temp;
};

// ---- Headers of images made from bytes ----

struct ReadCase
{
    const char* pszName;
    ImageSpec spec;
    bool bIgnoreBounds;
};

// Failure output names the case instead of dumping its bytes.
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.pszName; }

class PEFileHelperReadTest : public PEFileHelperTest, public ::testing::WithParamInterface<ReadCase>
{
};

TEST_P(PEFileHelperReadTest, RecordsWhereTheHeaderFieldsLie)
{
    const ReadCase& c = GetParam();
    std::vector<BYTE> image = MakeImage(c.spec);
    PEFacts facts = ReadFacts(image);
    ASSERT_TRUE(facts.bValid);
    std::wstring strPath = WriteImage(image);
    CFile file;
    ASSERT_TRUE(OpenForReading(file, strPath));

    CPEFileHelper helper;
    ASSERT_TRUE(helper.ReadHeaders(file, c.bIgnoreBounds));
    EXPECT_TRUE(helper.m_bHeadersRead);
    EXPECT_EQ(facts.checksumOffset, helper.m_dwChecksumOffset);
    EXPECT_EQ(static_cast<DWORD>(c.spec.lNtOffset + 0x58), helper.m_dwChecksumOffset);
    EXPECT_EQ(4u, helper.m_dwChecksumSize);
    EXPECT_EQ(facts.securityEntryOffset, helper.m_dwSecurityEntryOffset);
    EXPECT_EQ(static_cast<DWORD>(c.spec.lNtOffset + (c.spec.wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 0xA8 : 0x98)),
              helper.m_dwSecurityEntryOffset);
    EXPECT_EQ(8u, helper.m_dwSecurityEntrySize);
    EXPECT_EQ(c.spec.dwCertificateOffset, helper.m_dwCertificateTableOffset);
    EXPECT_EQ(c.spec.dwCertificateSize, helper.m_dwCertificateTableSize);
    EXPECT_EQ(facts.dwEndOfImage, helper.m_dwEndOfImage);
    EXPECT_EQ(0u, HelperErrorLines());
}

ImageSpec Spec(WORD wMagic, LONG lNtOffset, WORD wSections, DWORD dwCertOffset, DWORD dwCertSize, DWORD dwTrailing)
{
    ImageSpec spec;
    spec.wMagic = wMagic;
    spec.lNtOffset = lNtOffset;
    spec.wSections = wSections;
    spec.dwCertificateOffset = dwCertOffset;
    spec.dwCertificateSize = dwCertSize;
    spec.dwTrailingBytes = dwTrailing;
    return spec;
}

const WORD k32 = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
const WORD k64 = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
// Three sections of 0x200, 0x400 and 0x600 bytes behind 0x400 bytes of headers.
const DWORD kImageEnd = 0x400 + 0x200 + 0x400 + 0x600;

INSTANTIATE_TEST_SUITE_P(
    Images, PEFileHelperReadTest,
    ::testing::Values(
        ReadCase{"Unsigned32", Spec(k32, 0x80, 3, 0, 0, 0), false},
        ReadCase{"Unsigned64", Spec(k64, 0x80, 3, 0, 0, 0), false},
        ReadCase{"OneSection64", Spec(k64, 0x40, 1, 0, 0, 0), false},
        ReadCase{"Signed32", Spec(k32, 0x100, 3, kImageEnd, 0x80, 0x80), false},
        ReadCase{"Signed64", Spec(k64, 0xF8, 3, kImageEnd, 0x80, 0x80), false},
        // Each value alone is no larger than the file: a table that runs past the end passes.
        ReadCase{"TableRunsPastEnd", Spec(k32, 0x80, 3, kImageEnd, kImageEnd, 0x10), false},
        ReadCase{"TableAtEndOfFile", Spec(k64, 0x80, 3, kImageEnd + 0x10, 0, 0x10), false},
        // A copy cut out of a larger file still points beyond its own end.
        ReadCase{"OffsetBeyondFileIgnored", Spec(k32, 0x80, 3, 0x100000, 0x800, 0), true},
        ReadCase{"SizeBeyondFileIgnored", Spec(k64, 0x80, 3, kImageEnd, 0x100000, 0), true}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.pszName); });

struct FailureCase
{
    const char* pszName;
    void (*pfnBreak)(std::vector<BYTE>& image);
    const wchar_t* pszMessage;
};

// Failure output names the case instead of dumping its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.pszName; }

class PEFileHelperFailureTest : public PEFileHelperTest, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(PEFileHelperFailureTest, FailsWithItsMessageOnce)
{
    const FailureCase& c = GetParam();
    std::vector<BYTE> image = MakeImage(Spec(k32, 0x80, 3, 0, 0, 0));
    c.pfnBreak(image);
    std::wstring strPath = WriteImage(image);
    CFile file;
    ASSERT_TRUE(OpenForReading(file, strPath));

    CPEFileHelper helper;
    EXPECT_FALSE(helper.ReadHeaders(file, false));
    EXPECT_FALSE(helper.m_bHeadersRead);
    EXPECT_EQ(1u, kqtest::CountTraceLines(std::wstring(L"Error : ") + c.pszMessage));
    EXPECT_EQ(1u, HelperErrorLines());
}

const DWORD kNtAt = 0x80;

INSTANTIATE_TEST_SUITE_P(
    BrokenImages, PEFileHelperFailureTest,
    ::testing::Values(
        FailureCase{"EmptyFile", [](std::vector<BYTE>& i) { i.clear(); }, kMsgReadDos},
        FailureCase{"ShorterThanDosHeader", [](std::vector<BYTE>& i) { i.resize(63); }, kMsgReadDos},
        FailureCase{"NoMZ", [](std::vector<BYTE>& i) { i[1] = 'X'; }, kMsgDosSignature},
        FailureCase{"NtHeadersPastEnd",
                    [](std::vector<BYTE>& i) { PutU32(i, 0x3C, static_cast<DWORD>(i.size() - 100)); }, kMsgReadNt},
        FailureCase{"NegativeNtOffset", [](std::vector<BYTE>& i) { PutU32(i, 0x3C, 0xFFFFFFF0); }, kMsgReadNt},
        FailureCase{"NoPESignature", [](std::vector<BYTE>& i) { i[kNtAt + 1] = 'X'; }, kMsgNtSignature},
        FailureCase{"RomImageMagic", [](std::vector<BYTE>& i) { PutU16(i, kNtAt + 0x18, 0x107); }, kMsgUnknownFormat},
        FailureCase{"CertificateOffsetBeyondFile",
                    [](std::vector<BYTE>& i) { PutU32(i, kNtAt + 0x98, static_cast<DWORD>(i.size() + 1)); },
                    kMsgCertificateBounds},
        FailureCase{"CertificateSizeBeyondFile",
                    [](std::vector<BYTE>& i) {
                        PutU32(i, kNtAt + 0x98, 0x400);
                        PutU32(i, kNtAt + 0x9C, static_cast<DWORD>(i.size() + 1));
                    },
                    kMsgCertificateBounds},
        // An optional header too short to hold the security entry: the bytes there belong to the
        // section table.
        FailureCase{"OptionalHeaderEndsBeforeSecurityEntry",
                    [](std::vector<BYTE>& i) { PutU16(i, kNtAt + 0x14, 0x98 + 8 - 0x18 - 1); }, kMsgNoSecurityEntry},
        FailureCase{"OptionalHeaderWithoutDataDirectory", [](std::vector<BYTE>& i) { PutU16(i, kNtAt + 0x14, 0x60); },
                    kMsgNoSecurityEntry},
        FailureCase{"FourDirectoryEntries", [](std::vector<BYTE>& i) { PutU32(i, kNtAt + 0x74, 4); },
                    kMsgNoSecurityEntry},
        // PointerToRawData + SizeOfRawData of the last section wraps round in 32 bits.
        FailureCase{"EndOfImageWraps",
                    [](std::vector<BYTE>& i) {
                        const size_t last = kNtAt + 0x18 + sizeof(IMAGE_OPTIONAL_HEADER32) + 2 * sizeof(IMAGE_SECTION_HEADER);
                        PutU32(i, last + 20, 0xFFFFFF00);
                        PutU32(i, last + 16, 0x200);
                    },
                    kMsgEndOfImageBeyond4GB},
        FailureCase{"SectionTablePastEnd", [](std::vector<BYTE>& i) { PutU16(i, kNtAt + 6, 0xFFFF); }, kMsgReadSection},
        // With no sections there is no last section header; the bytes before the table are
        // not one.
        FailureCase{"NoSections", [](std::vector<BYTE>& i) { PutU16(i, kNtAt + 6, 0); }, kMsgReadSection}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.pszName); });

TEST_F(PEFileHelperTest, ClosedFileFailsAtTheLength)
{
    CFile file;
    CPEFileHelper helper;
    EXPECT_FALSE(helper.ReadHeaders(file, false));
    EXPECT_FALSE(helper.m_bHeadersRead);
    EXPECT_EQ(1u, kqtest::CountTraceLines(std::wstring(L"Error : ") + kMsgGetLength));
    EXPECT_EQ(1u, HelperErrorLines());
}

TEST_F(PEFileHelperTest, SecondReadDoesNotTouchTheFile)
{
    std::wstring strFirst = WriteImage(MakeImage(Spec(k64, 0x80, 3, kImageEnd, 0x40, 0x40)), L"first.exe");
    std::wstring strOther = WriteImage(MakeImage(Spec(k32, 0xC0, 2, 0, 0, 0)), L"other.exe");
    CPEFileHelper helper;
    {
        CFile file;
        ASSERT_TRUE(OpenForReading(file, strFirst));
        ASSERT_TRUE(helper.ReadHeaders(file, false));
    }
    const CPEFileHelper before = helper;

    CFile other;
    ASSERT_TRUE(OpenForReading(other, strOther));
    ULONGLONG ullPosition = 0;
    ASSERT_TRUE(other.SetPosition(5));
    EXPECT_TRUE(helper.ReadHeaders(other, false));
    ASSERT_TRUE(other.GetPosition(&ullPosition));
    EXPECT_EQ(5u, ullPosition);
    CFile closed;
    EXPECT_TRUE(helper.ReadHeaders(closed, false));

    EXPECT_EQ(before.m_dwSecurityEntryOffset, helper.m_dwSecurityEntryOffset);
    EXPECT_EQ(before.m_dwCertificateTableOffset, helper.m_dwCertificateTableOffset);
    EXPECT_EQ(before.m_dwCertificateTableSize, helper.m_dwCertificateTableSize);
    EXPECT_EQ(before.m_dwEndOfImage, helper.m_dwEndOfImage);
    EXPECT_EQ(0u, HelperErrorLines());
}

// ---- Writing the security entry and the checksum ----

struct UpdateCase
{
    const char* pszName;
    ImageSpec spec;
    DWORD dwNewOffset;
    DWORD dwNewSize;
};

// Failure output names the case instead of dumping its bytes.
void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.pszName; }

class PEFileHelperUpdateTest : public PEFileHelperTest, public ::testing::WithParamInterface<UpdateCase>
{
};

TEST_P(PEFileHelperUpdateTest, WritesTheEntryAndTheChecksumImageHelpExpects)
{
    const UpdateCase& c = GetParam();
    std::vector<BYTE> image = MakeImage(c.spec);
    std::wstring strPath = WriteImage(image);
    ASSERT_EQ(0u, ReadFacts(image).dwChecksum);

    CPEFileHelper helper;
    {
        CFile file;
        ASSERT_TRUE(OpenForWriting(file, strPath));
        ASSERT_TRUE(helper.ReadHeaders(file, false));
        helper.m_dwCertificateTableOffset = c.dwNewOffset;
        helper.m_dwCertificateTableSize = c.dwNewSize;
        ASSERT_TRUE(helper.UpdateSecurityDirectoryEntry(file));
        ASSERT_TRUE(helper.UpdateChecksum(file, strPath.c_str()));
        ASSERT_TRUE(file.Flush());
    }
    std::vector<BYTE> after = ReadBack(strPath);
    PEFacts facts = ReadFacts(after);
    EXPECT_EQ(c.dwNewOffset, facts.dwCertificateOffset);
    EXPECT_EQ(c.dwNewSize, facts.dwCertificateSize);
    ImageHelpSums sums = MapFileSums(strPath);
    ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), sums.dwResult);
    EXPECT_NE(0u, facts.dwChecksum);
    EXPECT_EQ(sums.dwChecksum, facts.dwChecksum);
    EXPECT_EQ(sums.dwChecksum, sums.dwHeaderSum);

    // Only the eight bytes of the entry and the four of the checksum changed.
    ASSERT_EQ(image.size(), after.size());
    for (size_t i = 0; i < image.size(); ++i) {
        bool bInEntry = i >= helper.m_dwSecurityEntryOffset && i < helper.m_dwSecurityEntryOffset + 8u;
        bool bInChecksum = i >= helper.m_dwChecksumOffset && i < helper.m_dwChecksumOffset + 4u;
        if (!bInEntry && !bInChecksum) {
            ASSERT_EQ(image[i], after[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(0u, HelperErrorLines());
}

INSTANTIATE_TEST_SUITE_P(
    Images, PEFileHelperUpdateTest,
    ::testing::Values(UpdateCase{"Sign32", Spec(k32, 0x80, 3, 0, 0, 0x100), kImageEnd, 0x100},
                      UpdateCase{"Sign64", Spec(k64, 0x80, 3, 0, 0, 0x100), kImageEnd, 0x100},
                      UpdateCase{"GrowTable64", Spec(k64, 0x100, 2, 0x400 + 0x200 + 0x400, 0x40, 0x80),
                                 0x400 + 0x200 + 0x400, 0x80},
                      UpdateCase{"Unsign32", Spec(k32, 0x80, 3, kImageEnd, 0x80, 0x80), 0, 0}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.pszName); });

TEST_F(PEFileHelperTest, UpdatesNeedAFileOpenForWriting)
{
    std::vector<BYTE> image = MakeImage(Spec(k32, 0x80, 3, 0, 0, 0x40));
    std::wstring strPath = WriteImage(image);
    CPEFileHelper helper;
    CFile readOnly;
    ASSERT_TRUE(OpenForReading(readOnly, strPath));
    ASSERT_TRUE(helper.ReadHeaders(readOnly, false));
    helper.m_dwCertificateTableOffset = kImageEnd;
    helper.m_dwCertificateTableSize = 0x40;

    EXPECT_FALSE(helper.UpdateSecurityDirectoryEntry(readOnly));
    EXPECT_FALSE(helper.UpdateChecksum(readOnly, strPath.c_str()));
    CFile closed;
    EXPECT_FALSE(helper.UpdateSecurityDirectoryEntry(closed));
    EXPECT_FALSE(helper.UpdateChecksum(closed, strPath.c_str()));
    readOnly.Close();

    EXPECT_EQ(2u, kqtest::CountTraceLines(std::wstring(L"Error : ") + kMsgEntryNotAccessible));
    EXPECT_EQ(2u, kqtest::CountTraceLines(std::wstring(L"Error : ") + kMsgChecksumNotAccessible));
    EXPECT_EQ(4u, HelperErrorLines());
    EXPECT_EQ(image, ReadBack(strPath));
}

TEST_F(PEFileHelperTest, ChecksumNeedsAFileNameImageHelpCanOpen)
{
    std::vector<BYTE> image = MakeImage(Spec(k64, 0x80, 3, 0, 0, 0));
    std::wstring strPath = WriteImage(image);
    CPEFileHelper helper;
    CFile file;
    ASSERT_TRUE(OpenForWriting(file, strPath));
    ASSERT_TRUE(helper.ReadHeaders(file, false));

    EXPECT_FALSE(helper.UpdateChecksum(file, nullptr));
    EXPECT_EQ(1u, kqtest::CountTraceLines(std::wstring(L"Error : ") + kMsgNoFileName));

    std::wstring strMissing = m_temp.File(L"missing.exe");
    ImageHelpSums sums = MapFileSums(strMissing);
    ASSERT_NE(static_cast<DWORD>(CHECKSUM_SUCCESS), sums.dwResult);
    EXPECT_FALSE(helper.UpdateChecksum(file, strMissing.c_str()));
    EXPECT_EQ(1u, kqtest::CountTraceLines(std::wstring(L"Error : ") + kMsgMapFailed + std::to_wstring(sums.dwResult)));
    EXPECT_EQ(2u, HelperErrorLines());
    file.Close();
    EXPECT_EQ(image, ReadBack(strPath));
}

// ---- The programs of this build and signed copies of them ----

// PE32+ for a 64-bit build, PE32 for a 32-bit one.
const WORD kBuildMagic = sizeof(void*) == 8 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC;

struct Program
{
    std::wstring strFolder;
    std::wstring strName;
    WORD wMagic;
    bool bStripped;  // nothing lies between the end of the image and the end of the program
    std::wstring Path() const { return strFolder + strName; }
};

std::vector<Program> BuildPrograms(const std::wstring& strFolder)
{
    return {{strFolder, L"Bootling.exe", kBuildMagic, true},
            {strFolder, L"Cronwick.exe", kBuildMagic, true},
            {strFolder, L"exitwith.exe", kBuildMagic, false}};
}

// Signed copies from the fixtures: this build's programs and, where the tests run a 64-bit
// build, the shipped 32-bit ones.
std::vector<Program> SignedPrograms()
{
    std::vector<Program> programs = BuildPrograms(kqtest::SignedCopiesFolder(L"zira_signed"));
    std::wstring strProduct = kqtest::SignedCopiesFolder(L"zira_signed_product");
    for (const wchar_t* pszName : {L"Bootling.exe", L"Cronwick.exe"}) {
        if (GetFileAttributesW((strProduct + pszName).c_str()) != INVALID_FILE_ATTRIBUTES)
            programs.push_back({strProduct, pszName, IMAGE_NT_OPTIONAL_HDR32_MAGIC, true});
    }
    return programs;
}

void ExpectHelperMatches(const Program& program, CPEFileHelper& helper, std::vector<BYTE>& bytes)
{
    ASSERT_TRUE(kqtest::ReadFileBytes(program.Path(), bytes)) << "missing " << std::string(program.strName.begin(), program.strName.end());
    PEFacts facts = ReadFacts(bytes);
    ASSERT_TRUE(facts.bValid);
    ASSERT_EQ(program.wMagic, facts.wMagic);
    CFile file;
    ASSERT_TRUE(OpenForReading(file, program.Path()));
    ASSERT_TRUE(helper.ReadHeaders(file, false));
    EXPECT_EQ(facts.checksumOffset, helper.m_dwChecksumOffset);
    EXPECT_EQ(facts.securityEntryOffset, helper.m_dwSecurityEntryOffset);
    EXPECT_EQ(facts.dwCertificateOffset, helper.m_dwCertificateTableOffset);
    EXPECT_EQ(facts.dwCertificateSize, helper.m_dwCertificateTableSize);
    EXPECT_EQ(facts.dwEndOfImage, helper.m_dwEndOfImage);
}

TEST_F(PEFileHelperTest, ReadsTheUnsignedProgramsOfTheBuild)
{
    for (const Program& program : BuildPrograms(kqtest::ExeFolder())) {
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()));
        CPEFileHelper helper;
        std::vector<BYTE> bytes;
        ExpectHelperMatches(program, helper, bytes);
        EXPECT_EQ(0u, helper.m_dwCertificateTableOffset);
        EXPECT_EQ(0u, helper.m_dwCertificateTableSize);
        if (program.bStripped)
            EXPECT_EQ(bytes.size(), helper.m_dwEndOfImage);
        else
            EXPECT_LT(helper.m_dwEndOfImage, bytes.size());
        EXPECT_EQ(kNoSignature, kqtest::VerifyFileSignature(program.Path()));
    }
    EXPECT_EQ(0u, HelperErrorLines());
}

TEST_F(PEFileHelperTest, FindsTheSignatureOfSignedCopies)
{
    for (const Program& program : SignedPrograms()) {
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()) + " in " +
                     std::string(program.strFolder.begin(), program.strFolder.end()));
        CPEFileHelper helper;
        std::vector<BYTE> bytes;
        ExpectHelperMatches(program, helper, bytes);
        EXPECT_EQ(0, kqtest::VerifyFileSignature(program.Path()));
        // The signature is the last thing in the file: a WIN_CERTIFICATE with PKCS#7 data.
        EXPECT_EQ(bytes.size(), static_cast<size_t>(helper.m_dwCertificateTableOffset) + helper.m_dwCertificateTableSize);
        if (program.bStripped)
            EXPECT_EQ(helper.m_dwEndOfImage, helper.m_dwCertificateTableOffset);
        else
            EXPECT_LT(helper.m_dwEndOfImage, helper.m_dwCertificateTableOffset);
        DWORD dwLength = GetU32(bytes, helper.m_dwCertificateTableOffset);
        EXPECT_LE(dwLength, helper.m_dwCertificateTableSize);
        EXPECT_EQ(static_cast<DWORD>(WIN_CERT_TYPE_PKCS_SIGNED_DATA) << 16 | WIN_CERT_REVISION_2_0,
                  GetU32(bytes, helper.m_dwCertificateTableOffset + 4));
    }
    EXPECT_EQ(0u, HelperErrorLines());
}

// The signature check itself must notice a change, or the tests below would prove nothing.
TEST_F(PEFileHelperTest, SignatureCheckNoticesAChangedByte)
{
    for (const Program& program : SignedPrograms()) {
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()));
        std::vector<BYTE> bytes;
        ASSERT_TRUE(kqtest::ReadFileBytes(program.Path(), bytes));
        PEFacts facts = ReadFacts(bytes);
        ASSERT_TRUE(facts.bValid);
        bytes[facts.dwEndOfImage - 1] ^= 0x01;
        std::wstring strChanged = WriteImage(bytes, L"changed.exe");
        EXPECT_NE(0, kqtest::VerifyFileSignature(strChanged));
        EXPECT_NE(kNoSignature, kqtest::VerifyFileSignature(strChanged));
    }
}

// What the embedded-data writer does: a block appended inside the certificate table, the entry
// and the checksum rewritten. The signature stays valid, and the checksum is image help's.
TEST_F(PEFileHelperTest, SignedCopyStaysValidWhenItsCertificateTableGrows)
{
    for (const Program& program : SignedPrograms()) {
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()));
        std::vector<BYTE> bytes;
        ASSERT_TRUE(kqtest::ReadFileBytes(program.Path(), bytes));
        const size_t original = bytes.size();
        PEFacts facts = ReadFacts(bytes);
        ASSERT_TRUE(facts.bValid);
        PutU32(bytes, facts.checksumOffset, 0x12345678);
        for (int i = 0; i < 0x40; ++i)
            bytes.push_back(static_cast<BYTE>(0xA0 + i));
        std::wstring strPath = WriteImage(bytes, L"grown.exe");

        CPEFileHelper helper;
        {
            CFile file;
            ASSERT_TRUE(OpenForWriting(file, strPath));
            ASSERT_TRUE(helper.ReadHeaders(file, false));
            ASSERT_EQ(original, static_cast<size_t>(helper.m_dwCertificateTableOffset) + helper.m_dwCertificateTableSize);
            helper.m_dwCertificateTableSize += 0x40;
            ASSERT_TRUE(helper.UpdateSecurityDirectoryEntry(file));
            ASSERT_TRUE(helper.UpdateChecksum(file, strPath.c_str()));
        }
        PEFacts after = ReadFacts(ReadBack(strPath));
        EXPECT_EQ(facts.dwCertificateOffset, after.dwCertificateOffset);
        EXPECT_EQ(facts.dwCertificateSize + 0x40, after.dwCertificateSize);
        ImageHelpSums sums = MapFileSums(strPath);
        ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), sums.dwResult);
        EXPECT_EQ(sums.dwChecksum, after.dwChecksum);
        EXPECT_EQ(0, kqtest::VerifyFileSignature(strPath));
    }
    EXPECT_EQ(0u, HelperErrorLines());
}

// What the stub repair does when the program carries no signature of its own: the signature
// cut off, the entry cleared, the checksum recomputed.
TEST_F(PEFileHelperTest, SignedCopyCutAtTheEndOfImageBecomesUnsigned)
{
    for (const Program& program : SignedPrograms()) {
        if (!program.bStripped)
            continue;
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()));
        std::vector<BYTE> bytes;
        ASSERT_TRUE(kqtest::ReadFileBytes(program.Path(), bytes));
        PEFacts facts = ReadFacts(bytes);
        ASSERT_TRUE(facts.bValid);
        bytes.resize(facts.dwEndOfImage);
        std::wstring strPath = WriteImage(bytes, L"cut.exe");

        CPEFileHelper helper;
        {
            CFile file;
            ASSERT_TRUE(OpenForWriting(file, strPath));
            // The entry still points beyond the shortened file.
            EXPECT_TRUE(helper.ReadHeaders(file, true));
            helper.m_dwCertificateTableOffset = 0;
            helper.m_dwCertificateTableSize = 0;
            ASSERT_TRUE(helper.UpdateSecurityDirectoryEntry(file));
            ASSERT_TRUE(helper.UpdateChecksum(file, strPath.c_str()));
        }
        PEFacts after = ReadFacts(ReadBack(strPath));
        EXPECT_EQ(0u, after.dwCertificateOffset);
        EXPECT_EQ(0u, after.dwCertificateSize);
        EXPECT_EQ(MapFileSums(strPath).dwChecksum, after.dwChecksum);
        EXPECT_EQ(kNoSignature, kqtest::VerifyFileSignature(strPath));
    }
    EXPECT_EQ(0u, HelperErrorLines());
}

}  // namespace
