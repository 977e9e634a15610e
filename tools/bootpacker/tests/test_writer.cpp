// The package writer in-process: the size it promises before it writes, and the 4 GB limit a
// signature sets, refused before the output file is created.
#include <gtest/gtest.h>

#include "bpPackageWriter.h"
#include "bpSigning.h"
#include "bpTestRun.h"
#include "kqScopedHandle.h"
#include "kqTestFiles.h"
#include "kqTestProcess.h"
#include "kqTestSigning.h"

using bptest::DataFile;

namespace {

const wchar_t* const kArchives[] = {L"TestUI.7z", L"TestProduct.7z", L"TestInstall.7z", L"TestAux.7z"};

std::vector<PackageInput> Inputs()
{
    const DWORD kTypes[] = {5, 1, 3, 4};
    std::vector<PackageInput> inputs;
    for (size_t i = 0; i < 4; ++i)
        inputs.push_back({DataFile(kArchives[i]), kTypes[i]});
    return inputs;
}

// A file of the given size whose bytes are never written (sparse where the file system allows).
bool MakeLongFile(const std::wstring& strPath, ULONGLONG ullSize)
{
    CScopedHandle file(CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file.IsHandle())
        return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(ullSize);
    return SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get());
}

}  // namespace

// The promised size is the written size, for a stub with and without its own certificate.
TEST(PackageWriter, SizeBeforeWritingIsTheWrittenSize)
{
    kqtest::CTempDir temp;
    const std::wstring stubs[] = {kqtest::ExeFolder() + L"Bootling.exe",
                                  kqtest::SignedCopiesFolder(L"bootpack_stub") + L"Bootling.exe"};
    for (const std::wstring& strStub : stubs) {
        SCOPED_TRACE(testing::PrintToString(strStub));
        StubInfo stub;
        std::string strError;
        ASSERT_TRUE(CheckStub(strStub, stub, strError)) << strError;
        const std::wstring strPackage = temp / L"Package.exe";
        ASSERT_TRUE(WritePackageFile(strStub, stub, Inputs(), strPackage, strError)) << strError;

        PackageLayout layout;
        ASSERT_TRUE(ReadPackageLayout(strPackage, layout, strError)) << strError;
        std::vector<ULONGLONG> sizes;
        for (const PackageInput& input : Inputs())
            sizes.push_back(kqtest::ReadFileBytes(input.strPath).size());
        EXPECT_EQ(layout.pe.ullFileSize, PackageFileSize(stub, layout.dwPointerArchiveLength, sizes));
        EXPECT_TRUE(VerifyPackageContents(strPackage, strStub, stub, Inputs(), strError)) << strError;
    }
}

// The last byte a certificate table can start at is 0xFFFFFFF8; sizes that add up past what a
// ULONGLONG holds do not wrap round to a small package.
TEST(PackageWriter, SizeLimitEdges)
{
    StubInfo stub;
    stub.pe.dwEndOfImage = 0x1000;
    const ULONGLONG ullFixed = 0x1000 + 4 + 20 + 100;
    EXPECT_EQ(0xFFFFFFF8ull, PackageFileSize(stub, 100, {0xFFFFFFF8ull - ullFixed}));
    EXPECT_EQ(0x100000000ull, PackageFileSize(stub, 100, {0xFFFFFFF8ull - ullFixed + 1}));
    EXPECT_EQ(ullFixed + 4, PackageFileSize(stub, 100, {}));
    EXPECT_GT(PackageFileSize(stub, 100, {~0ULL, ~0ULL, 64}), 0xFFFFFFFFull);
    stub.dwCertificateLength = 0x800;
    EXPECT_EQ(0x1000ull + 0x800 + 20 + 100, PackageFileSize(stub, 100, {0}));  // already a multiple of 8
}

// An archive that makes the package 4 GB is refused from its size alone: no output file is
// created and nothing is copied (the stub named here cannot even be opened).
TEST(PackageWriter, FourGigabytesAreRefusedBeforeTheOutputExists)
{
    kqtest::CTempDir temp;
    const std::wstring strHuge = temp / L"Huge.7z";
    ASSERT_TRUE(MakeLongFile(strHuge, 0x100000000ull));
    StubInfo stub;
    std::string strError;
    ASSERT_TRUE(CheckStub(kqtest::ExeFolder() + L"Bootling.exe", stub, strError)) << strError;
    const std::wstring strPackage = temp / L"Package.exe";
    EXPECT_FALSE(WritePackageFile(temp / L"NoSuchStub.exe", stub, {{DataFile(kArchives[0]), 5}, {strHuge, 1}},
                                  strPackage, strError));
    EXPECT_NE(std::string::npos, strError.find("a package of 4 GB or more cannot be signed")) << strError;
    EXPECT_FALSE(kqtest::FileExists(strPackage));
}

// The paths go in where the template names them, and only there: a path that holds a
// placeholder itself is not expanded again.
TEST(SigningCommand, PlaceholdersAreReplacedFromTheTemplateOnly)
{
    const struct
    {
        const wchar_t* pszTemplate;
        const wchar_t* pszIn;
        const wchar_t* pszOut;
        const wchar_t* pszExpected;
    } kCases[] = {
        {L"sign.exe {in} {out}", L"C:\\p\\u.exe", L"C:\\p\\s.exe", L"sign.exe \"C:\\p\\u.exe\" \"C:\\p\\s.exe\""},
        {L"sign.exe \"{in}\" -o \"{out}\"", L"C:\\u.exe", L"C:\\s.exe", L"sign.exe \"C:\\u.exe\" -o \"C:\\s.exe\""},
        {L"sign.exe {in}", L"C:\\a b\\u.exe", L"C:\\s.exe", L"sign.exe \"C:\\a b\\u.exe\""},
        {L"sign.exe {in} {out}", L"C:\\{out}\\u.exe", L"C:\\{in}\\s.exe",
         L"sign.exe \"C:\\{out}\\u.exe\" \"C:\\{in}\\s.exe\""},
        {L"sign.exe {in", L"C:\\u.exe", L"C:\\s.exe", L"sign.exe {in"},
    };
    for (const auto& test : kCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(test.pszTemplate)));
        EXPECT_EQ(std::wstring(test.pszExpected), ExpandSigningCommand(test.pszTemplate, test.pszIn, test.pszOut));
    }
}
