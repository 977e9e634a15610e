// CFileDataExtender: the settings block inside the certificate table. Unsigned images are made
// here from bytes (PE32 and PE32+); signed files are copies signed by the zira_signed fixtures,
// checked with Windows' own WinVerifyTrust after every write.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ZIRA_FileDataExtender.h"
#include "kqFile.h"
#include "kqMemoryStream.h"
#include "kqObjectRoot.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSerialize.h"
#include "kqSmartPtr.h"
#include "kqTestFiles.h"
#include "kqTestPE.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"
#include "kqTestTrace.h"

using ZIRA::CFileDataExtender;

namespace {

const wchar_t kPrefix[] = L"ZIRA::CFileDataExtender::";
const DWORD kMagicV1 = 0x50417062;
const DWORD kMagicV0 = 0x62704170;
const DWORD kKeyNumber = 1;
const DWORD kKeyFlag = 2;
const DWORD kKeyText = 3;
const DWORD kKeyBinary = 4;
const LONG kNoSignature = static_cast<LONG>(0x800B0100);  // TRUST_E_NOSIGNATURE

size_t ErrorLines(const std::wstring& strMessage) { return kqtest::CountTraceLines(L"Error : " + strMessage); }
size_t ExtenderErrorLines() { return kqtest::CountTraceLines(std::wstring(L"Error : ") + kPrefix); }
std::wstring Msg(const wchar_t* pszTail) { return kPrefix + std::wstring(pszTail); }

// An extender that was not opened for writing refuses each way of writing, each with its line.
void ExpectEveryWriteRefused(CFileDataExtender& extender)
{
    EXPECT_FALSE(extender.Save());
    EXPECT_FALSE(extender.RemoveStreamFromModule());
    EXPECT_FALSE(extender.UpdatePEHeader());
    EXPECT_EQ(1u, ErrorLines(Msg(L"Save(287) : must Initialize writable before saving")));
    EXPECT_EQ(1u, ErrorLines(Msg(L"RemoveStreamFromModule(974) : must Initialize writable before removing stream")));
    EXPECT_EQ(1u, ErrorLines(Msg(L"UpdatePEHeader(1080) : must Initialize writable before updating PE header")));
}

using kqtest::GetU32;
using kqtest::PEFacts;
using kqtest::PutU32;

void AppendU32(std::vector<BYTE>& bytes, DWORD dw)
{
    bytes.resize(bytes.size() + 4);
    PutU32(bytes, bytes.size() - 4, dw);
}

PEFacts ReadFacts(const std::vector<BYTE>& bytes)
{
    PEFacts facts = kqtest::ReadPEFacts(bytes);
    EXPECT_TRUE(facts.bValid);
    return facts;
}

// A small unsigned image: headers in 0x400 bytes, one section of 0x600 bytes.
template <typename TNt>
void FillHeaders(std::vector<BYTE>& image, size_t nt, WORD wMagic, WORD wMachine)
{
    TNt headers = {};
    headers.Signature = IMAGE_NT_SIGNATURE;
    headers.FileHeader.Machine = wMachine;
    headers.FileHeader.NumberOfSections = 1;
    headers.FileHeader.SizeOfOptionalHeader = sizeof(headers.OptionalHeader);
    headers.FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE;
    headers.OptionalHeader.Magic = wMagic;
    headers.OptionalHeader.SectionAlignment = 0x1000;
    headers.OptionalHeader.FileAlignment = 0x200;
    headers.OptionalHeader.SizeOfHeaders = 0x400;
    headers.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI;
    headers.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    memcpy(&image[nt], &headers, sizeof(headers));
    IMAGE_SECTION_HEADER section = {};
    memcpy(section.Name, ".data", 5);
    section.VirtualAddress = 0x1000;
    section.Misc.VirtualSize = 0x600;
    section.PointerToRawData = 0x400;
    section.SizeOfRawData = 0x600;
    section.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    memcpy(&image[nt + offsetof(TNt, OptionalHeader) + sizeof(headers.OptionalHeader)], &section, sizeof(section));
}

std::vector<BYTE> MakeImage(WORD wMagic, size_t nt = 0x80)
{
    std::vector<BYTE> image(0xA00);
    for (size_t i = 0x400; i < image.size(); ++i)
        image[i] = static_cast<BYTE>(i * 13 + 5);
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, offsetof(IMAGE_DOS_HEADER, e_lfanew), static_cast<DWORD>(nt));
    if (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        FillHeaders<IMAGE_NT_HEADERS64>(image, nt, wMagic, IMAGE_FILE_MACHINE_AMD64);
    else
        FillHeaders<IMAGE_NT_HEADERS32>(image, nt, wMagic, IMAGE_FILE_MACHINE_I386);
    return image;
}

// The saved form of a collection, as the block's payload holds it.
std::vector<BYTE> Serialize(IKeyValueCollection* pCollection)
{
    CSmartPtr<ISerialize> spSerialize;
    spSerialize.QueryFrom(pCollection);
    CSmartPtr<CMemoryStreamImpl> spMemory;
    spMemory.Attach(CreateMemoryStreamImpl());
    if (!spSerialize || !spMemory || !spSerialize->Save(static_cast<IByteStream*>(spMemory.Get())))
        return {};
    const BYTE* p = static_cast<const BYTE*>(spMemory->GetMemory().GetData());
    return std::vector<BYTE>(p, p + spMemory->GetMemory().GetSize());
}

// A collection with a text of nChars characters besides a number and a flag.
CSmartPtr<IKeyValueCollection> Settings(size_t nChars, DWORD dwNumber)
{
    CSmartPtr<IKeyValueCollection> spCollection = NewKeyValueCollection();
    spCollection->SetDWord(kKeyNumber, dwNumber);
    spCollection->SetBool(kKeyFlag, true);
    spCollection->SetStringW(kKeyText, std::wstring(nChars, L'x').c_str());
    return spCollection;
}

std::vector<BYTE> BlockV1(const std::vector<BYTE>& payload)
{
    std::vector<BYTE> block;
    DWORD dwUsed = static_cast<DWORD>(20 + payload.size());
    AppendU32(block, (dwUsed + 15) & ~15u);
    AppendU32(block, kMagicV1);
    AppendU32(block, 1);
    AppendU32(block, CFileDataExtender::HashPayload(payload.data(), static_cast<DWORD>(payload.size())));
    AppendU32(block, dwUsed);
    block.insert(block.end(), payload.begin(), payload.end());
    block.resize((dwUsed + 15) & ~15u);
    return block;
}

std::vector<BYTE> BlockV0(const std::vector<BYTE>& payload)
{
    std::vector<BYTE> block;
    AppendU32(block, static_cast<DWORD>(8 + payload.size()));
    AppendU32(block, kMagicV0);
    block.insert(block.end(), payload.begin(), payload.end());
    return block;
}

// The image with the block appended as its whole certificate table, as Save leaves an
// unsigned file.
std::vector<BYTE> WithBlock(std::vector<BYTE> image, const std::vector<BYTE>& block)
{
    PEFacts facts = ReadFacts(image);
    PutU32(image, facts.securityEntryOffset, static_cast<DWORD>(image.size()));
    PutU32(image, facts.securityEntryOffset + 4, static_cast<DWORD>(block.size()));
    image.insert(image.end(), block.begin(), block.end());
    return image;
}

// The two files are the same apart from the header checksum.
void ExpectSameButChecksum(const std::vector<BYTE>& expected, const std::vector<BYTE>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    size_t checksum = ReadFacts(expected).checksumOffset;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i < checksum || i >= checksum + 4) {
            ASSERT_EQ(expected[i], actual[i]) << "byte " << i;
        }
    }
}

class DataExtenderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_temp.Path().empty());
        kqtest::ClearTrace();
    }
    std::wstring Write(const std::vector<BYTE>& bytes, const wchar_t* pszName = L"setup.exe")
    {
        std::wstring strPath = m_temp.File(pszName);
        EXPECT_TRUE(kqtest::WriteFileBytes(strPath, bytes));
        return strPath;
    }
    std::vector<BYTE> Read(const std::wstring& strPath)
    {
        std::vector<BYTE> bytes;
        EXPECT_TRUE(kqtest::ReadFileBytes(strPath, bytes));
        return bytes;
    }
    // Checks the block at ullAt: its fields, zero padding, and the payload equal to the
    // collection's saved form. Returns the total size.
    DWORD ExpectBlock(const std::vector<BYTE>& bytes, size_t at, IKeyValueCollection* pExpected)
    {
        std::vector<BYTE> payload = Serialize(pExpected);
        DWORD dwTotal = GetU32(bytes, at);
        DWORD dwUsed = GetU32(bytes, at + 16);
        EXPECT_EQ(kMagicV1, GetU32(bytes, at + 4));
        EXPECT_EQ(1u, GetU32(bytes, at + 8));
        EXPECT_EQ(20 + payload.size(), dwUsed);
        EXPECT_EQ(0u, dwTotal % 16);
        EXPECT_LE(dwUsed, dwTotal);
        EXPECT_GT(dwUsed + 16, dwTotal);
        EXPECT_EQ(bytes.size(), at + dwTotal);
        if (bytes.size() < at + dwTotal || dwUsed > dwTotal)
            return dwTotal;
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), bytes.begin() + at + 20));
        EXPECT_EQ(CFileDataExtender::HashPayload(payload.data(), static_cast<DWORD>(payload.size())),
                  GetU32(bytes, at + 12));
        for (size_t i = at + dwUsed; i < at + dwTotal; ++i)
            EXPECT_EQ(0, bytes[i]) << "padding byte " << i - at;
        return dwTotal;
    }

    kqtest::CTempDir m_temp;
};

TEST(DataExtenderHash, IsTheCrcOfThePayloadWithTwoMoreSteps)
{
    EXPECT_EQ(0x51338D9Du, CFileDataExtender::HashPayload("abc", 3));
}

// ---- Unsigned files: the block appended as the whole certificate table ----

class UnsignedTest : public DataExtenderTest, public ::testing::WithParamInterface<WORD>
{
};

TEST_P(UnsignedTest, BlockIsAppendedRewrittenAndRemoved)
{
    const std::vector<BYTE> image = MakeImage(GetParam());
    const PEFacts original = ReadFacts(image);
    const std::wstring strPath = Write(image);
    {
        CFileDataExtender extender;
        ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
        EXPECT_EQ(1u, kqtest::CountTraceLines(L"Warning : " + Msg(L"Initialize(125) : file is not signed: ") + strPath));
        EXPECT_FALSE(extender.IsSigned());
        EXPECT_FALSE(extender.DataExists(kKeyNumber));

        // Growing and shrinking: the block always starts where the image ended.
        for (size_t nChars : {5u, 300u, 0u, 41u}) {
            SCOPED_TRACE(nChars);
            CSmartPtr<IKeyValueCollection> spWanted = Settings(nChars, static_cast<DWORD>(nChars));
            ASSERT_TRUE(extender.Import(spWanted.Get()));
            ASSERT_TRUE(extender.Save());
            std::vector<BYTE> bytes = Read(strPath);
            DWORD dwTotal = ExpectBlock(bytes, image.size(), spWanted.Get());
            PEFacts facts = ReadFacts(bytes);
            EXPECT_EQ(image.size(), facts.dwCertificateOffset);
            EXPECT_EQ(dwTotal, facts.dwCertificateSize);
            EXPECT_EQ(kqtest::ImageHelpChecksum(strPath), facts.dwChecksum);
        }
    }
    // The block alone is no signature: the file is as unsigned as before.
    EXPECT_EQ(kNoSignature, kqtest::VerifyFileSignature(strPath));
    {
        // The block starts the table: no certificate precedes it.
        CFileDataExtender reader;
        ASSERT_TRUE(reader.Initialize(strPath.c_str(), false));
        EXPECT_FALSE(reader.IsSigned());
        EXPECT_EQ(0u, reader.GetSignatureSize());
        EXPECT_EQ(1u, reader.GetVersion());
        DWORD dwNumber = 0;
        bool bFlag = false;
        std::wstring strText;
        EXPECT_TRUE(reader.GetData(kKeyNumber, dwNumber));
        EXPECT_EQ(41u, dwNumber);
        EXPECT_TRUE(reader.GetData(kKeyFlag, bFlag));
        EXPECT_TRUE(bFlag);
        EXPECT_TRUE(reader.GetData(kKeyText, strText));
        EXPECT_EQ(std::wstring(41, L'x'), strText);
        // Read-only and loaded: the file is closed again.
        CFile other;
        EXPECT_TRUE(other.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0));
    }
    {
        CFileDataExtender extender;
        ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
        ASSERT_TRUE(extender.RemoveStreamFromModule());
        // Removing again finds nothing to remove.
        ASSERT_TRUE(extender.RemoveStreamFromModule());
    }
    std::vector<BYTE> bytes = Read(strPath);
    ExpectSameButChecksum(image, bytes);
    PEFacts facts = ReadFacts(bytes);
    EXPECT_EQ(0u, facts.dwCertificateOffset);
    EXPECT_EQ(0u, facts.dwCertificateSize);
    EXPECT_EQ(kqtest::ImageHelpChecksum(strPath), facts.dwChecksum);
    EXPECT_EQ(kNoSignature, kqtest::VerifyFileSignature(strPath));
    EXPECT_EQ(0u, original.dwCertificateOffset);
    EXPECT_EQ(0u, ExtenderErrorLines());
}

// Each remainder of the used size modulo 16 gets its own padding, none when it is a multiple.
TEST_P(UnsignedTest, PaddingRaisesTheUsedSizeToAMultipleOf16)
{
    const std::vector<BYTE> image = MakeImage(GetParam());
    const std::wstring strPath = Write(image);
    CFileDataExtender extender;
    ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
    bool bSeenNoPadding = false;
    for (DWORD dwLength = 1; dwLength <= 16; ++dwLength) {
        SCOPED_TRACE(dwLength);
        CSmartPtr<IKeyValueCollection> spWanted = NewKeyValueCollection();
        std::vector<BYTE> data(dwLength, 0xEE);
        spWanted->SetBinary(kKeyBinary, data.data(), dwLength);
        ASSERT_TRUE(extender.Import(spWanted.Get()));
        ASSERT_TRUE(extender.Save());
        std::vector<BYTE> bytes = Read(strPath);
        DWORD dwTotal = ExpectBlock(bytes, image.size(), spWanted.Get());
        bSeenNoPadding |= dwTotal == GetU32(bytes, image.size() + 16);
    }
    EXPECT_TRUE(bSeenNoPadding);
}

INSTANTIATE_TEST_SUITE_P(Formats, UnsignedTest,
                         ::testing::Values(WORD(IMAGE_NT_OPTIONAL_HDR32_MAGIC), WORD(IMAGE_NT_OPTIONAL_HDR64_MAGIC)),
                         [](const ::testing::TestParamInfo<WORD>& info) {
                             return std::string(info.param == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? "PE32Plus" : "PE32");
                         });

// ---- Versions ----

TEST_F(DataExtenderTest, Version0BlockIsReadAndReplacedByVersion1)
{
    CSmartPtr<IKeyValueCollection> spOld = Settings(7, 1234);
    std::vector<BYTE> image = MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    const size_t at = image.size();
    const std::wstring strPath = Write(WithBlock(image, BlockV0(Serialize(spOld.Get()))));

    CFileDataExtender extender;
    ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
    EXPECT_EQ(0u, extender.GetVersion());
    DWORD dwNumber = 0;
    EXPECT_TRUE(extender.GetData(kKeyNumber, dwNumber));
    EXPECT_EQ(1234u, dwNumber);
    ASSERT_TRUE(extender.SetData(kKeyNumber, DWORD(99)));
    ASSERT_TRUE(extender.Save());

    std::vector<BYTE> bytes = Read(strPath);
    spOld->SetDWord(kKeyNumber, 99);
    DWORD dwTotal = ExpectBlock(bytes, at, spOld.Get());
    EXPECT_EQ(at, ReadFacts(bytes).dwCertificateOffset);
    EXPECT_EQ(dwTotal, ReadFacts(bytes).dwCertificateSize);
    EXPECT_EQ(0u, ExtenderErrorLines());
}

TEST_F(DataExtenderTest, HigherVersionIsNeitherReadNorOverwritten)
{
    std::vector<BYTE> block = BlockV1(Serialize(Settings(3, 5).Get()));
    PutU32(block, 8, 2);
    const std::vector<BYTE> file = WithBlock(MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC), block);
    const std::wstring strPath = Write(file);

    CFileDataExtender extender;
    EXPECT_FALSE(extender.Initialize(strPath.c_str(), true));
    EXPECT_EQ(1u, ErrorLines(Msg(L"Initialize(209) : unknown version: 2")));
    EXPECT_FALSE(extender.DataExists(kKeyNumber));
    EXPECT_TRUE(extender.SetData(kKeyNumber, DWORD(1)));
    EXPECT_FALSE(extender.Save());
    EXPECT_EQ(1u, ErrorLines(Msg(L"Save(304) : existing data is a higher version (2), do not overwrite")));
    EXPECT_EQ(2u, ExtenderErrorLines());
    EXPECT_TRUE(file == Read(strPath));
}

// A block header cut short by the end of the file is no block, and what it did hold replaces
// nothing the extender recorded of the real block.
TEST_F(DataExtenderTest, CutBlockHeaderChangesNoRecordedValue)
{
    std::vector<BYTE> file = WithBlock(MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC), BlockV1(Serialize(Settings(9, 1).Get())));
    // Size, magic and a version 7, then the file ends before the hash.
    AppendU32(file, 0x40);
    AppendU32(file, kMagicV1);
    AppendU32(file, 7);
    const std::wstring strPath = Write(file);
    CFileDataExtender extender;
    ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
    const DWORD dwHash = extender.GetHash();
    const DWORD dwUsed = extender.GetUsedSize();
    EXPECT_EQ(1u, extender.GetVersion());
    EXPECT_EQ(-1, extender.GetStreamPos(file.size() - 12));
    EXPECT_EQ(1u, extender.GetVersion());
    EXPECT_EQ(dwHash, extender.GetHash());
    EXPECT_EQ(dwUsed, extender.GetUsedSize());
}

// ---- Hostile blocks: sizes from an unsigned part of the file ----

struct HostileCase
{
    const char* pszName;
    void (*pfnBreak)(std::vector<BYTE>& block);
    bool bVersion0;
    const wchar_t* pszMessage;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.pszName; }

class HostileBlockTest : public DataExtenderTest, public ::testing::WithParamInterface<HostileCase>
{
};

// The entry count in a collection's saved form: after a long, two bools and a long, each item
// a tag byte and its value.
const size_t kCountOffset = 5 + 2 + 2 + 5 + 1;

TEST(DataExtenderPayload, EntryCountLiesWhereTheHostileCasesChangeIt)
{
    EXPECT_EQ(3u, GetU32(Serialize(Settings(20, 7).Get()), kCountOffset));
}

const wchar_t kDamaged[] = L"Initialize(226) : damaged data block: ";
const wchar_t kNotLoaded[] = L"Initialize(268) : failed to load stream into kvc";

TEST_P(HostileBlockTest, InitializeFailsWithOneErrorAndReadsNothing)
{
    const HostileCase& c = GetParam();
    std::vector<BYTE> payload = Serialize(Settings(20, 7).Get());
    std::vector<BYTE> block = c.bVersion0 ? BlockV0(payload) : BlockV1(payload);
    c.pfnBreak(block);
    const std::wstring strPath = Write(WithBlock(MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC), block));

    CFileDataExtender extender;
    EXPECT_FALSE(extender.Initialize(strPath.c_str(), false));
    EXPECT_EQ(1u, ErrorLines(Msg(c.pszMessage)));
    EXPECT_EQ(1u, ExtenderErrorLines());
    EXPECT_FALSE(extender.DataExists(kKeyNumber));
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, HostileBlockTest,
    ::testing::Values(
        HostileCase{"TotalBelowHeader", [](std::vector<BYTE>& b) { PutU32(b, 0, 16); }, false, kDamaged},
        HostileCase{"TotalZero", [](std::vector<BYTE>& b) { PutU32(b, 0, 0); }, false, kDamaged},
        HostileCase{"TotalBeyondFile", [](std::vector<BYTE>& b) { PutU32(b, 0, 0x7FFFFFF0); }, false, kDamaged},
        HostileCase{"TotalOneBeyondFile", [](std::vector<BYTE>& b) { PutU32(b, 0, GetU32(b, 0) + 1); }, false,
                    kDamaged},
        HostileCase{"UsedBelowHeader", [](std::vector<BYTE>& b) { PutU32(b, 16, 19); }, false, kDamaged},
        HostileCase{"UsedBeyondTotal", [](std::vector<BYTE>& b) { PutU32(b, 16, GetU32(b, 0) + 1); }, false,
                    kDamaged},
        HostileCase{"UsedHuge", [](std::vector<BYTE>& b) { PutU32(b, 16, 0xFFFFFFFF); }, false, kDamaged},
        // The payload is cut short: the collection's entries run past the used size.
        HostileCase{"UsedCutsPayload", [](std::vector<BYTE>& b) { PutU32(b, 16, GetU32(b, 16) - 6); }, false,
                    kNotLoaded},
        HostileCase{"PayloadGarbage",
                    [](std::vector<BYTE>& b) {
                        for (size_t i = 20; i < b.size(); ++i)
                            b[i] = static_cast<BYTE>(0xFF - i);
                    },
                    false, kNotLoaded},
        // An entry count no file could hold.
        HostileCase{"PayloadCountHuge", [](std::vector<BYTE>& b) { PutU32(b, 20 + kCountOffset, 0xFFFFFFF0); },
                    false, kNotLoaded},
        HostileCase{"Version0TotalBelowHeader", [](std::vector<BYTE>& b) { PutU32(b, 0, 7); }, true, kDamaged},
        HostileCase{"Version0TotalBeyondFile", [](std::vector<BYTE>& b) { PutU32(b, 0, 0xFFFFFFFF); }, true,
                    kDamaged},
        HostileCase{"Version0PayloadGarbage",
                    [](std::vector<BYTE>& b) {
                        for (size_t i = 8; i < b.size(); ++i)
                            b[i] = 0xFF;
                    },
                    true, kNotLoaded}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.pszName); });

// A certificate length that does not cover its own header or runs past the table would place
// the block on top of the certificate.
TEST_F(DataExtenderTest, CertificateLengthMustLieWithinTheTable)
{
    for (DWORD dwLength : {0u, 4u, 0x41u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(dwLength);
        kqtest::ClearTrace();
        std::vector<BYTE> image = MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC);
        std::vector<BYTE> table(0x40, 0);
        PutU32(table, 0, dwLength);
        PutU32(table, 4, 0x00020200);
        const std::vector<BYTE> file = WithBlock(image, table);
        const std::wstring strPath = Write(file);
        CFileDataExtender extender;
        EXPECT_FALSE(extender.Initialize(strPath.c_str(), true));
        EXPECT_EQ(1u, ErrorLines(Msg(L"Initialize(172) : invalid signature size: ") + std::to_wstring(dwLength)));
        EXPECT_EQ(1u, ExtenderErrorLines());
        // The file is let go: no block can be written at a position taken from that length.
        EXPECT_FALSE(extender.Save());
        EXPECT_EQ(1u, ErrorLines(Msg(L"Save(287) : must Initialize writable before saving")));
        EXPECT_TRUE(file == Read(strPath));
    }
}

// Reading is lenient, writing is not: a block position inside the image, a block that does not
// end the file, or data other than padding behind the first certificate make Save and
// RemoveStreamFromModule refuse and leave the file as it was.
TEST_F(DataExtenderTest, WritesOnlyWhereTheBlockEndsTheFile)
{
    const std::vector<BYTE> image = MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    const std::vector<BYTE> block = BlockV1(Serialize(Settings(5, 6).Get()));
    const DWORD dwImageEnd = static_cast<DWORD>(image.size());

    // A block placed inside the image's last section, the security entry pointing at it.
    std::vector<BYTE> inImage = image;
    const DWORD dwInside = dwImageEnd - 0x200;
    std::copy(block.begin(), block.end(), inImage.begin() + dwInside);
    PutU32(inImage, ReadFacts(inImage).securityEntryOffset, dwInside);
    PutU32(inImage, ReadFacts(inImage).securityEntryOffset + 4, static_cast<DWORD>(block.size()));

    // Overlay data behind a block.
    std::vector<BYTE> overlay = WithBlock(image, block);
    overlay.insert(overlay.end(), 0x40, 0x5A);

    // A first certificate, then a second one (or padding) where a block would go.
    auto TwoCertificates = [&](DWORD dwFirst, DWORD dwTable) {
        std::vector<BYTE> table(dwTable, 0x33);
        PutU32(table, 0, dwFirst);
        PutU32(table, 4, 0x00020200);
        if (dwTable - dwFirst >= 8) {
            PutU32(table, dwFirst, dwTable - dwFirst);
            PutU32(table, dwFirst + 4, 0x00020200);
        } else {
            std::fill(table.begin() + dwFirst, table.end(), 0);
        }
        return WithBlock(image, table);
    };

    const std::wstring strInImage =
        L"data block position 2048 lies inside the image or beyond the file (end of image 2560, file size 2560)";
    const std::wstring strNotAtEnd = L"data block at 2560 of " + std::to_wstring(block.size()) +
                                     L" bytes does not end the file (file size " + std::to_wstring(overlay.size()) + L")";
    const std::wstring strForeign = L"64 bytes that are no data block follow position 2624";
    struct Case
    {
        const char* pszName;
        std::vector<BYTE> file;
        bool bSaves;
        std::wstring strSaveLine;
        std::wstring strRemoveLine;  // empty: RemoveStreamFromModule is not tried
    } cases[] = {
        {"block inside the image", inImage, false, strInImage, strInImage},
        {"overlay behind the block", overlay, false, strNotAtEnd, strNotAtEnd},
        {"second certificate", TwoCertificates(0x40, 0x80), false, strForeign, L""},
        {"padding behind the certificate", TwoCertificates(0x3C, 0x40), true, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        kqtest::ClearTrace();
        const std::wstring strPath = Write(c.file);
        {
            CFileDataExtender extender;
            ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
            ASSERT_TRUE(extender.SetData(kKeyNumber, DWORD(42)));
            EXPECT_EQ(c.bSaves, extender.Save());
            if (!c.strSaveLine.empty()) {
                EXPECT_EQ(1u, ErrorLines(Msg(L"Save(336) : ") + c.strSaveLine));
                EXPECT_EQ(1u, ExtenderErrorLines());
            }
            if (!c.strRemoveLine.empty()) {
                EXPECT_FALSE(extender.RemoveStreamFromModule());
                EXPECT_EQ(1u, ErrorLines(Msg(L"RemoveStreamFromModule(980) : ") + c.strRemoveLine));
                EXPECT_EQ(2u, ExtenderErrorLines());
            }
        }
        if (!c.bSaves) {
            EXPECT_TRUE(c.file == Read(strPath));
            continue;
        }
        // The block replaces the padding and ends the file.
        const std::vector<BYTE> bytes = Read(strPath);
        const PEFacts facts = ReadFacts(bytes);
        EXPECT_EQ(dwImageEnd, facts.dwCertificateOffset);
        EXPECT_EQ(bytes.size(), static_cast<size_t>(facts.dwCertificateOffset) + facts.dwCertificateSize);
        EXPECT_EQ(kMagicV1, GetU32(bytes, dwImageEnd + 0x3C + 4));
        EXPECT_EQ(0u, ExtenderErrorLines());
    }
}

// ---- Misuse and the collection operations ----

// An object that counts its saved form but fails to write it: a collection holding it
// cannot be saved.
class CUnsavable : public CObjectRoot, public ISerialize
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == ISerialize::kIid)
            return AnswerInterface(static_cast<ISerialize*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    ULONGLONG GetSizeMax() override { return 4; }
    bool Save(IByteStream*) override { return false; }
    bool Load(IByteStream*) override { return false; }
    bool IsDirty() override { return true; }
    void SetDirty(bool) override {}
    bool GetClassID(GUID* pClassId) override
    {
        *pClassId = ISerialize::kIid;
        return true;
    }
};

TEST_F(DataExtenderTest, CollectionThatCannotBeSavedLeavesTheFileAsItWas)
{
    const std::vector<BYTE> image = MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    // A first certificate followed by 4 bytes of table padding, where a block would go.
    std::vector<BYTE> table(0x40, 0x33);
    PutU32(table, 0, 0x3C);
    PutU32(table, 4, 0x00020200);
    const DWORD kKeyObject = 9;
    struct Case
    {
        const char* pszName;
        std::vector<BYTE> file;
    } cases[] = {
        {"unsigned without a block", image},
        {"unsigned with a block", WithBlock(image, BlockV1(Serialize(Settings(5, 6).Get())))},
        {"certificate and padding", WithBlock(image, table)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        kqtest::ClearTrace();
        const std::wstring strPath = Write(c.file);
        CSmartPtr<IObjectBase> spUnsavable;
        spUnsavable.Attach(static_cast<ISerialize*>(new CUnsavable));
        {
            CFileDataExtender extender;
            ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
            CSmartPtr<IKeyValueCollection> spSettings = Settings(3, 4);
            ASSERT_TRUE(spSettings->SetObjectRef(kKeyObject, spUnsavable.Get()));
            ASSERT_TRUE(extender.Import(spSettings.Get()));
            EXPECT_FALSE(extender.Save());
            EXPECT_EQ(1u, ErrorLines(Msg(L"Save(376) : failed to save kvc to mem stream")));
            EXPECT_EQ(1u, ExtenderErrorLines());
            EXPECT_TRUE(c.file == Read(strPath));
            // Without the object the same extender saves.
            ASSERT_TRUE(extender.RemoveData(kKeyObject));
            EXPECT_TRUE(extender.Save());
        }
        CFileDataExtender reader;
        ASSERT_TRUE(reader.Initialize(strPath.c_str(), false));
        DWORD dwNumber = 0;
        EXPECT_TRUE(reader.GetData(kKeyNumber, dwNumber));
        EXPECT_EQ(4u, dwNumber);
    }
}

TEST_F(DataExtenderTest, ReadOnlyExtenderChangesNothing)
{
    const std::vector<BYTE> image = MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    const std::wstring strPath = Write(image);
    CFileDataExtender extender;
    ASSERT_TRUE(extender.Initialize(strPath.c_str(), false));
    ASSERT_TRUE(extender.SetData(kKeyNumber, DWORD(1)));
    ExpectEveryWriteRefused(extender);
    EXPECT_EQ(3u, ExtenderErrorLines());
    EXPECT_TRUE(image == Read(strPath));
}

TEST_F(DataExtenderTest, MissingFileFailsWithoutALogLine)
{
    CFileDataExtender extender;
    EXPECT_FALSE(extender.Initialize(m_temp.File(L"missing.exe").c_str(), false));
    EXPECT_EQ(0u, ExtenderErrorLines());
    std::vector<BYTE> notPE(0x200, 'x');
    EXPECT_FALSE(extender.Initialize(Write(notPE).c_str(), false));
    EXPECT_EQ(1u, ErrorLines(Msg(L"Initialize(118) : failed to read PE headers")));
}

TEST_F(DataExtenderTest, OperationsWithoutACollectionLogTheirMessage)
{
    CFileDataExtender extender;
    bool bValue = false;
    DWORD dwValue = 0;
    std::wstring strValue;
    EXPECT_FALSE(extender.SetData(1, true));
    EXPECT_FALSE(extender.SetData(1, DWORD(1)));
    EXPECT_FALSE(extender.SetData(1, L"text"));
    EXPECT_FALSE(extender.GetData(1, bValue));
    EXPECT_FALSE(extender.GetData(1, dwValue));
    EXPECT_FALSE(extender.DataExists(1));
    EXPECT_FALSE(extender.RemoveData(1));
    EXPECT_FALSE(extender.Save());
    EXPECT_FALSE(extender.Export(m_temp.File(L"out.kvc").c_str()));
    EXPECT_EQ(0, extender.GetStreamPos(0));
    for (const wchar_t* pszMessage :
         {L"SetData(692)", L"SetData(703)", L"SetData(714)", L"GetData(800)", L"GetData(811)", L"DataExists(924)",
          L"RemoveData(935)", L"Export(424)"})
        EXPECT_EQ(1u, ErrorLines(Msg(pszMessage) + L" : invalid pointer... need to initialize...")) << pszMessage;
    EXPECT_EQ(1u, ErrorLines(Msg(L"Save(287) : must Initialize writable before saving")));
    EXPECT_EQ(1u, ErrorLines(Msg(L"GetStreamPos(1016) : must Initialize")));
    EXPECT_EQ(10u, ExtenderErrorLines());
    // The string-object overloads leave the message to the collection layer.
    EXPECT_FALSE(extender.SetData(1, std::wstring(L"text")));
    EXPECT_FALSE(extender.GetData(1, strValue));
    EXPECT_EQ(10u, ExtenderErrorLines());
    EXPECT_FALSE(kqtest::FileExists(m_temp.File(L"out.kvc")));
}

TEST_F(DataExtenderTest, ExportImportAndCopies)
{
    CFileDataExtender source;
    CSmartPtr<IKeyValueCollection> spSettings = Settings(12, 77);
    ASSERT_TRUE(source.Import(spSettings.Get()));
    ASSERT_TRUE(source.SetData(kKeyText, std::wstring(L"changed")));
    ASSERT_TRUE(source.RemoveData(kKeyFlag));
    const std::wstring strExport = m_temp.File(L"settings.kvc");
    ASSERT_TRUE(source.Export(strExport.c_str()));

    CSmartPtr<IKeyValueCollection> spExpected = Settings(0, 77);
    spExpected->SetStringW(kKeyText, L"changed");
    spExpected->Remove(kKeyFlag);
    std::vector<BYTE> exported = Read(strExport);
    EXPECT_EQ(Serialize(spExpected.Get()), exported);

    CFileDataExtender target;
    ASSERT_TRUE(target.Import(strExport.c_str()));
    CSmartPtr<IKeyValueCollection> spCopy = NewKeyValueCollection();
    spCopy->SetDWord(999, 1);
    ASSERT_TRUE(target.GetCollection(spCopy.Get()));
    EXPECT_EQ(exported, Serialize(spCopy.Get()));
    EXPECT_FALSE(target.GetCollection(nullptr));
    EXPECT_EQ(1u, ErrorLines(Msg(L"GetCollection(947) : invalid parameter - must pass a valid kvc")));

    EXPECT_FALSE(target.Import(m_temp.File(L"missing.kvc").c_str()));
    std::wstring strBad = m_temp.File(L"no\\such\\folder\\out.kvc");
    EXPECT_FALSE(target.Export(strBad.c_str()));
    EXPECT_EQ(1u, ErrorLines(Msg(L"Export(441) : failed to open: ") + strBad + L" (3)"));
    EXPECT_EQ(2u, ExtenderErrorLines());
}

// A second Initialize on another file takes nothing over from the first.
TEST_F(DataExtenderTest, SecondInitializeReadsTheNewFile)
{
    CSmartPtr<IKeyValueCollection> spSettings = Settings(4, 4);
    const std::wstring strFirst =
        Write(WithBlock(MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC, 0x80), BlockV1(Serialize(spSettings.Get()))),
              L"first.exe");
    const std::vector<BYTE> second = MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC, 0xC0);
    const std::wstring strSecond = Write(second, L"second.exe");

    CFileDataExtender extender;
    ASSERT_TRUE(extender.Initialize(strFirst.c_str(), true));
    ASSERT_TRUE(extender.Initialize(strSecond.c_str(), true));
    DWORD dwNumber = 0;
    EXPECT_TRUE(extender.GetData(kKeyNumber, dwNumber));  // the collection is kept
    EXPECT_EQ(4u, dwNumber);
    ASSERT_TRUE(extender.Save());
    std::vector<BYTE> bytes = Read(strSecond);
    DWORD dwTotal = ExpectBlock(bytes, second.size(), spSettings.Get());
    PEFacts facts = ReadFacts(bytes);
    EXPECT_EQ(second.size(), facts.dwCertificateOffset);
    EXPECT_EQ(dwTotal, facts.dwCertificateSize);
    EXPECT_EQ(kqtest::ImageHelpChecksum(strSecond), facts.dwChecksum);
}

TEST_F(DataExtenderTest, UnsignedFileOf4GBIsRefused)
{
    const std::wstring strPath = Write(MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC));
    {
        CFile file;
        ASSERT_TRUE(file.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0));
        ASSERT_TRUE(file.SetSize(0x100000000ULL));
    }
    CFileDataExtender extender;
    EXPECT_FALSE(extender.Initialize(strPath.c_str(), true));
    EXPECT_EQ(1u, ErrorLines(Msg(L"Initialize(146) : file is larger than 4GB, which is not supported by this tool")));
    EXPECT_EQ(1u, ExtenderErrorLines());
}

// A writable Initialize that fails lets the file go: nothing can be written at offsets that were
// never learnt (or were learnt from another file), and others may open the file again.
TEST_F(DataExtenderTest, FailedInitializeLeavesNothingToWriteTo)
{
    const std::vector<BYTE> valid = WithBlock(MakeImage(IMAGE_NT_OPTIONAL_HDR32_MAGIC), BlockV1(Serialize(Settings(2, 3).Get())));
    std::vector<BYTE> notPE(0x200, 'x');
    notPE[0] = 'M';
    notPE[1] = 'Z';
    const std::wstring strValid = Write(valid, L"valid.exe");
    const std::wstring strNotPE = Write(notPE, L"notpe.exe");
    const std::wstring strHuge = Write(MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC), L"huge.exe");
    {
        CFile file;
        ASSERT_TRUE(file.Open(strHuge.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0));
        ASSERT_TRUE(file.SetSize(0x100000000ULL));
    }
    struct Case
    {
        const char* pszName;
        std::wstring strPath;
        bool bAfterValid;  // a successful writable Initialize on another file comes first
        const wchar_t* pszInitializeLine;
    } cases[] = {
        {"headers unreadable", strNotPE, false, L"Initialize(118) : failed to read PE headers"},
        {"headers unreadable after another file", strNotPE, true, L"Initialize(118) : failed to read PE headers"},
        {"4 GB", strHuge, false, L"Initialize(146) : file is larger than 4GB"},
        {"4 GB after another file", strHuge, true, L"Initialize(146) : file is larger than 4GB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        kqtest::ClearTrace();
        std::vector<BYTE> head(0x200);
        {
            CFile file;
            ASSERT_TRUE(file.Open(c.strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
            ASSERT_TRUE(file.Read(head.data(), static_cast<DWORD>(head.size())));
        }
        CFileDataExtender extender;
        if (c.bAfterValid) {
            ASSERT_TRUE(extender.Initialize(strValid.c_str(), true));
        }
        EXPECT_FALSE(extender.Initialize(c.strPath.c_str(), true));
        EXPECT_EQ(1u, ErrorLines(Msg(c.pszInitializeLine)));
        ASSERT_TRUE(extender.SetData(kKeyNumber, DWORD(8)));
        ExpectEveryWriteRefused(extender);
        EXPECT_EQ(4u, ExtenderErrorLines());
        // Neither file is held any more, and neither was written to.
        for (const std::wstring& strPath : {c.strPath, strValid}) {
            CFile file;
            EXPECT_TRUE(file.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0));
        }
        std::vector<BYTE> after(head.size());
        CFile file;
        ASSERT_TRUE(file.Open(c.strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0));
        ASSERT_TRUE(file.Read(after.data(), static_cast<DWORD>(after.size())));
        EXPECT_TRUE(head == after);
        EXPECT_TRUE(valid == Read(strValid));
    }
}

// ---- Signed programs: the signature stays valid ----

struct Program
{
    std::wstring strFixture;
    std::wstring strName;
    std::wstring Path() const { return kqtest::SignedCopiesFolder(strFixture) + strName; }
};

std::vector<Program> SignedPrograms()
{
    std::vector<Program> programs;
    for (const wchar_t* pszFixture : {L"zira_signed", L"zira_signed_product"}) {
        for (const wchar_t* pszName : {L"Bootling.exe", L"Cronwick.exe", L"exitwith.exe"}) {
            Program program{pszFixture, pszName};
            if (kqtest::FileExists(program.Path()))
                programs.push_back(program);
        }
    }
    return programs;
}

// Where the files for the osslsigncode check after this test go: bin\restored\<fixture>\.
std::wstring RestoredFolder(const std::wstring& strFixture)
{
    std::wstring strFolder = kqtest::ExeFolder() + L"restored";
    CreateDirectoryW(strFolder.c_str(), nullptr);
    strFolder += L"\\" + strFixture;
    CreateDirectoryW(strFolder.c_str(), nullptr);
    return strFolder + L"\\";
}

TEST_F(DataExtenderTest, SignedProgramsStayValidlySignedThroughEverySave)
{
    std::vector<Program> programs = SignedPrograms();
    ASSERT_GE(programs.size(), 3u);
    for (const Program& program : programs) {
        SCOPED_TRACE(std::string(program.strName.begin(), program.strName.end()) + " of " +
                     std::string(program.strFixture.begin(), program.strFixture.end()));
        kqtest::ClearTrace();
        const std::vector<BYTE> signedBytes = Read(program.Path());
        const PEFacts signedFacts = ReadFacts(signedBytes);
        const DWORD dwLength = GetU32(signedBytes, signedFacts.dwCertificateOffset);
        ASSERT_EQ(signedBytes.size(), static_cast<size_t>(signedFacts.dwCertificateOffset) + signedFacts.dwCertificateSize);
        ASSERT_EQ(0, kqtest::VerifyFileSignature(program.Path()));
        const std::wstring strPath = Write(signedBytes, program.strName.c_str());

        // Each write by an extender of its own: while one holds the file writable, nothing
        // else can read it (WinVerifyTrust included).
        bool bSaved = false;
        for (size_t nChars : {0u, 10u, 2000u, 3u, 700u}) {
            SCOPED_TRACE(nChars);
            CSmartPtr<IKeyValueCollection> spWanted = Settings(nChars, static_cast<DWORD>(nChars));
            {
                CFileDataExtender extender;
                ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
                EXPECT_TRUE(extender.IsSigned());
                EXPECT_EQ(dwLength, extender.GetSignatureSize());
                EXPECT_EQ(bSaved, extender.DataExists(kKeyNumber));
                if (nChars == 0)
                    continue;
                ASSERT_TRUE(extender.Import(spWanted.Get()));
                ASSERT_TRUE(extender.Save());
                bSaved = true;
            }
            std::vector<BYTE> bytes = Read(strPath);
            const size_t at = static_cast<size_t>(signedFacts.dwCertificateOffset) + dwLength;
            DWORD dwTotal = ExpectBlock(bytes, at, spWanted.Get());
            PEFacts facts = ReadFacts(bytes);
            EXPECT_EQ(signedFacts.dwCertificateOffset, facts.dwCertificateOffset);
            EXPECT_EQ(dwLength + dwTotal, facts.dwCertificateSize);
            EXPECT_EQ(kqtest::ImageHelpChecksum(strPath), facts.dwChecksum);
            // Everything up to the end of the first certificate is as signed, but the entry and
            // the checksum.
            std::vector<BYTE> head(bytes.begin(), bytes.begin() + at);
            PutU32(head, facts.securityEntryOffset + 4, signedFacts.dwCertificateSize);
            std::vector<BYTE> signedHead(signedBytes.begin(), signedBytes.begin() + at);
            ExpectSameButChecksum(signedHead, head);
            EXPECT_EQ(0, kqtest::VerifyFileSignature(strPath));
        }
        EXPECT_EQ(0u, ExtenderErrorLines());
        std::vector<BYTE> withBlock = Read(strPath);

        // A byte outside the certificate table changed: the signature check must notice.
        std::vector<BYTE> changed = withBlock;
        changed[signedFacts.dwEndOfImage - 1] ^= 0x20;
        EXPECT_NE(0, kqtest::VerifyFileSignature(Write(changed, L"changed.exe")));

        {
            CFileDataExtender reader;
            ASSERT_TRUE(reader.Initialize(strPath.c_str(), false));
            std::wstring strText;
            EXPECT_TRUE(reader.GetData(kKeyText, strText));
            EXPECT_EQ(std::wstring(700, L'x'), strText);
        }
        {
            CFileDataExtender extender;
            ASSERT_TRUE(extender.Initialize(strPath.c_str(), true));
            ASSERT_TRUE(extender.RemoveStreamFromModule());
        }
        std::vector<BYTE> restored = Read(strPath);
        ExpectSameButChecksum(signedBytes, restored);
        EXPECT_EQ(kqtest::ImageHelpChecksum(strPath), ReadFacts(restored).dwChecksum);
        EXPECT_EQ(0, kqtest::VerifyFileSignature(strPath));

        std::wstring strOut = RestoredFolder(program.strFixture);
        EXPECT_TRUE(kqtest::WriteFileBytes(strOut + program.strName, restored));
        EXPECT_TRUE(kqtest::WriteFileBytes(strOut + L"block-" + program.strName, withBlock));
    }
}

}  // namespace
