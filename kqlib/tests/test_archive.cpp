// The typed archive: item bytes, failures that consume nothing, the three byte stores and
// VARIANT items.
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <objbase.h>
#include <olectl.h>
#include "kqDummyArchive.h"
#include "kqMemoryArchive.h"
#include "kqSerialTestUtil.h"
#include "kqStreamArchive.h"

namespace {

Bytes Stored(const std::function<bool(CArchive&)>& write)
{
    CMemory memory;
    CMemoryArchive archive(memory, eArchiveMode_Store);
    EXPECT_TRUE(write(archive));
    return BytesOf(memory);
}

ULONGLONG Position(CArchive& archive)
{
    ULONGLONG ull = 0;
    EXPECT_TRUE(archive.GetPosition(&ull));
    return ull;
}

}  // namespace

TEST(ArchiveItems, FixedItemsAreTagThenLittleEndianValue)
{
    GUID guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    KQBLOCK16 block = {{0x11111111, 0x22222222, 0x33333333, 0x44444444}};
    struct Case
    {
        const char* pszName;
        std::function<bool(CArchive&)> write;
        Bytes expected;
    } cases[] = {
        {"byte", [](CArchive& a) { return a.WriteByte(0xAB); }, {1, 0xAB}},
        {"word", [](CArchive& a) { return a.WriteWord(0x1234); }, {2, 0x34, 0x12}},
        {"dword", [](CArchive& a) { return a.WriteDWord(0x12345678); }, {3, 0x78, 0x56, 0x34, 0x12}},
        {"ulonglong", [](CArchive& a) { return a.WriteULongLong(0x0102030405060708ULL); }, {4, 8, 7, 6, 5, 4, 3, 2, 1}},
        {"double", [](CArchive& a) { return a.WriteDouble(1.0); }, {5, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"long", [](CArchive& a) { return a.WriteLong(-2); }, {6, 0xFE, 0xFF, 0xFF, 0xFF}},
        {"bool", [](CArchive& a) { return a.WriteBool(true); }, {10, 1}},
        {"char", [](CArchive& a) { return a.WriteChar(-1); }, {12, 0xFF}},
        {"short", [](CArchive& a) { return a.WriteShort(-2); }, {13, 0xFE, 0xFF}},
        {"longlong", [](CArchive& a) { return a.WriteLongLong(-1); }, {14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"guid", [&](CArchive& a) { return a.WriteGuid(guid); }, {15, 4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16}},
        {"block16", [&](CArchive& a) { return a.WriteBlock16(block); },
         {16, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44}},
        {"utf16 string of three characters", [](CArchive& a) { return a.WriteStringW(L"abc"); },
         {8, 8, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0}},
        {"empty 8-bit string", [](CArchive& a) { return a.WriteStringA(""); }, {7, 1, 0, 0, 0, 0}},
        {"binary", [](CArchive& a) { return a.WriteBinary("\x01\x02", 2); }, {9, 2, 0, 0, 0, 1, 2}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(c.expected, Stored(c.write));
        CMemory memory;
        CMemoryArchive archive(memory, eArchiveMode_Store);
        ASSERT_TRUE(c.write(archive));
        EXPECT_EQ(c.expected.size(), archive.GetTotal());
    }
}

TEST(ArchiveItems, ReadingAnotherTypeFailsAndConsumesNothing)
{
    CMemory memory;
    PutBytes(memory, Stored([](CArchive& a) { return a.WriteLong(1); }));
    CMemoryArchive archive(memory, eArchiveMode_Load);
    DWORD dw = 0;
    EXPECT_FALSE(archive.ReadDWord(&dw));
    EXPECT_EQ(0u, Position(archive));
    EXPECT_EQ(0u, archive.GetTotal());
    LONG l = 0;
    EXPECT_TRUE(archive.ReadLong(&l));
    EXPECT_EQ(1, l);
    EXPECT_EQ(5u, archive.GetTotal());
}

TEST(ArchiveItems, ArchiveRefusesTheOtherDirection)
{
    CMemory memory;
    CMemoryArchive store(memory, eArchiveMode_Store);
    BYTE b = 0;
    EXPECT_FALSE(store.ReadByte(&b));
    ASSERT_TRUE(store.WriteByte(7));
    CMemoryArchive load(memory, eArchiveMode_Load);
    EXPECT_FALSE(load.WriteByte(1));
    EXPECT_TRUE(load.ReadByte(&b));
    EXPECT_EQ(7, b);
}

TEST(ArchiveItems, StringLongerThanTheBufferFailsUnconsumed)
{
    CMemory memory;
    PutBytes(memory, Stored([](CArchive& a) { return a.WriteStringW(L"abcdef"); }));
    CMemoryArchive archive(memory, eArchiveMode_Load);
    wchar_t sz[4] = {};
    EXPECT_FALSE(archive.ReadStringW(sz, sizeof(sz)));
    EXPECT_EQ(0u, Position(archive));
    wchar_t szBig[8] = {};
    EXPECT_TRUE(archive.ReadStringW(szBig, sizeof(szBig)));
    EXPECT_STREQ(L"abcdef", szBig);
}

TEST(ArchiveItems, StringsEndAtTheFirstTerminator)
{
    CMemory memory;
    PutBytes(memory, {7, 5, 0, 0, 0, 'a', 'b', 0, 'x', 0, 8, 6, 0, 0, 0, 'c', 0, 0, 0, 'y', 0});
    CMemoryArchive archive(memory, eArchiveMode_Load);
    std::string strA;
    std::wstring strW;
    EXPECT_TRUE(archive.ReadStringA(strA));
    EXPECT_EQ("ab", strA);
    EXPECT_TRUE(archive.ReadStringW(strW));
    EXPECT_EQ(L"c", strW);
}

TEST(ArchiveItems, LengthBeyondTheStoreFailsWithoutAllocating)
{
    // A 30-byte store whose binary item claims 4 GB: refused before any allocation.
    Bytes bytes(30, 0);
    bytes[0] = eArchiveTag_Binary;
    bytes[1] = bytes[2] = bytes[3] = bytes[4] = 0xFF;
    for (BYTE tag : {eArchiveTag_Binary, eArchiveTag_StringA, eArchiveTag_StringW, eArchiveTag_Variant})
    {
        bytes[0] = tag;
        CMemory memory;
        PutBytes(memory, bytes);
        CMemoryArchive archive(memory, eArchiveMode_Load);
        CMemory target;
        std::string strA;
        std::wstring strW;
        VARIANT v;
        VariantInit(&v);
        EXPECT_FALSE(archive.ReadBinary(target));
        EXPECT_FALSE(archive.ReadStringA(strA));
        EXPECT_FALSE(archive.ReadStringW(strW));
        EXPECT_FALSE(archive.ReadVariant(&v));
        EXPECT_FALSE(archive.SkipItem());
        DWORD dwLength = 0;
        EXPECT_TRUE(archive.PeekLength(&dwLength));
        EXPECT_EQ(0xFFFFFFFFu, dwLength);
        EXPECT_EQ(0u, Position(archive));
    }
}

TEST(ArchiveItems, PeekLengthAndSkipItem)
{
    CMemory memory;
    PutBytes(memory, Stored([](CArchive& a) {
                   return a.WriteGuid(GUID()) && a.WriteStringA("hello") && a.WriteDWord(9);
               }));
    CMemoryArchive archive(memory, eArchiveMode_Load);
    DWORD dwLength = 0;
    ASSERT_TRUE(archive.PeekLength(&dwLength));
    EXPECT_EQ(16u, dwLength);
    EXPECT_EQ(0u, Position(archive));
    ASSERT_TRUE(archive.SkipItem());
    ASSERT_TRUE(archive.PeekLength(&dwLength));
    EXPECT_EQ(6u, dwLength);
    ASSERT_TRUE(archive.SkipItem());
    EXPECT_EQ(17u + 11u, archive.GetTotal());
    // The last item ends at the store's end: skipping it must still work.
    ASSERT_TRUE(archive.SkipItem());
    EXPECT_EQ(memory.GetSize(), Position(archive));
    EXPECT_FALSE(archive.SkipItem());
    EXPECT_FALSE(archive.PeekLength(&dwLength));
}

TEST(ArchiveItems, InvalidTagsAreRefused)
{
    for (BYTE tag : {BYTE(0), BYTE(17), BYTE(255)})
    {
        CMemory memory;
        PutBytes(memory, {tag, 0, 0, 0, 0, 0});
        CMemoryArchive archive(memory, eArchiveMode_Load);
        DWORD dw = 0;
        EXPECT_FALSE(archive.PeekLength(&dw));
        EXPECT_FALSE(archive.SkipItem());
        EXPECT_EQ(0u, Position(archive));
    }
}

TEST(MemoryArchive, PositionRules)
{
    CMemory memory;
    PutBytes(memory, Bytes(10, 0));
    CMemoryArchive archive(memory, eArchiveMode_Load);
    EXPECT_FALSE(archive.SetPosition(10));
    EXPECT_TRUE(archive.SetPosition(9));
    BYTE ab[1];
    ASSERT_TRUE(archive.ReadBytes(ab, 1));
    EXPECT_EQ(10u, Position(archive));
    EXPECT_TRUE(archive.SetPosition(10));
    EXPECT_FALSE(archive.SetPosition(0x100000000ULL));
}

TEST(MemoryArchive, WritesGrowTheMemoryToExactlyWhatIsNeeded)
{
    CMemory memory;
    CMemoryArchive archive(memory, eArchiveMode_Store);
    ASSERT_TRUE(archive.WriteDWord(1));
    EXPECT_EQ(5u, memory.GetSize());
    ASSERT_TRUE(archive.WriteStringW(L"x"));
    EXPECT_EQ(14u, memory.GetSize());
}

TEST(DummyArchive, CountsWithoutStoring)
{
    CDummyArchive counter;
    ASSERT_TRUE(counter.WriteLong(1));
    ASSERT_TRUE(counter.WriteStringW(L"abc"));
    ASSERT_TRUE(counter.WriteBinary(nullptr, 0));
    EXPECT_EQ(5u + 13u + 5u, counter.GetTotal());
    EXPECT_EQ(0u, Position(counter));
}

TEST(StreamArchive, StartsAtTheStreamPositionAndLeavesItAtTheHighestReached)
{
    CSmartPtr<CMemoryStreamImpl> spStream = StreamOf({0xEE, 0xEE});
    ASSERT_TRUE(spStream->SetPosition(2));
    {
        CStreamArchive archive(spStream.Get(), eArchiveMode_Store);
        ASSERT_TRUE(archive.WriteWord(0x0102));
        ASSERT_TRUE(archive.WriteByte(3));
        EXPECT_EQ(2u, archive.GetStart());
        EXPECT_TRUE(archive.SetPosition(2));
        EXPECT_FALSE(archive.SetPosition(8));
    }
    ULONGLONG ull = 0;
    ASSERT_TRUE(spStream->GetPosition(&ull));
    EXPECT_EQ(7u, ull);
    Bytes expected = {0xEE, 0xEE, 2, 2, 1, 1, 3};
    EXPECT_EQ(expected, BytesOf(spStream->GetMemory()));

    ASSERT_TRUE(spStream->SetPosition(2));
    CStreamArchive reader(spStream.Get(), eArchiveMode_Load);
    WORD w = 0;
    BYTE b = 0;
    EXPECT_FALSE(reader.ReadByte(&b));
    EXPECT_TRUE(reader.ReadWord(&w));
    EXPECT_EQ(0x0102, w);
}

// ---- VARIANT items ----

class VariantItems : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }

    static Bytes Write(const VARIANT& v)
    {
        CMemory memory;
        CMemoryArchive archive(memory, eArchiveMode_Store);
        if (!archive.WriteVariant(v))
            return Bytes();
        EXPECT_EQ(memory.GetSize(), archive.GetTotal());
        return BytesOf(memory);
    }
    static bool Read(const Bytes& bytes, VARIANT* pv)
    {
        CMemory memory;
        PutBytes(memory, bytes);
        CMemoryArchive archive(memory, eArchiveMode_Load);
        bool bOk = archive.ReadVariant(pv);
        ULONGLONG ull = 0;
        archive.GetPosition(&ull);
        EXPECT_EQ(bOk ? bytes.size() : 0u, ull);
        return bOk;
    }
    // Written, read back and compared with the original.
    static void RoundTrip(VARIANT& v)
    {
        Bytes bytes = Write(v);
        ASSERT_FALSE(bytes.empty());
        VARIANT back;
        VariantInit(&back);
        ASSERT_TRUE(Read(bytes, &back));
        EXPECT_EQ(v.vt, back.vt);
        EXPECT_EQ(bytes, Write(back));
        VariantClear(&back);
    }
};

TEST_F(VariantItems, I4IsWrittenAsTheFormatSays)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 0x11223344;
    Bytes expected = {11, 6, 0, 0, 0, 3, 0, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(expected, Write(v));
    VARIANT back;
    VariantInit(&back);
    ASSERT_TRUE(Read(expected, &back));
    EXPECT_EQ(VT_I4, back.vt);
    EXPECT_EQ(0x11223344, back.lVal);
}

TEST_F(VariantItems, FixedTypesRoundTrip)
{
    struct Case
    {
        VARTYPE vt;
        LONGLONG llBits;
        size_t cbBody;
    } cases[] = {
        {VT_EMPTY, 0, 2},     {VT_I1, 0x7F, 3},           {VT_UI1, 0xFE, 3},        {VT_I2, 0x7FFE, 4},
        {VT_BOOL, -1, 4},     {VT_UI2, 0xFFFE, 4},        {VT_I4, -5, 6},           {VT_R4, 0x3F800000, 6},
        {VT_UI4, 7, 6},       {VT_INT, -9, 6},            {VT_UINT, 9, 6},          {VT_R8, 0x3FF0000000000000LL, 10},
        {VT_DATE, 1, 10},     {VT_I8, -1, 10},            {VT_UI8, 0x7FFFFFFFFFFFFFFFLL, 10},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.vt);
        VARIANT v;
        VariantInit(&v);
        v.vt = c.vt;
        v.llVal = c.llBits;
        Bytes bytes = Write(v);
        ASSERT_EQ(5 + c.cbBody, bytes.size());
        RoundTrip(v);
    }
}

TEST_F(VariantItems, DecimalIsTheWholeSixteenBytes)
{
    VARIANT v;
    VariantInit(&v);
    ASSERT_TRUE(SUCCEEDED(VarDecFromI4(-12345, &v.decVal)));
    v.vt = VT_DECIMAL;
    Bytes bytes = Write(v);
    ASSERT_EQ(5u + 2u + 16u, bytes.size());
    // The DECIMAL's reserved word overlays the type field.
    EXPECT_EQ(0x0E, bytes[7]);
    VARIANT back;
    VariantInit(&back);
    ASSERT_TRUE(Read(bytes, &back));
    EXPECT_EQ(VT_DECIMAL, back.vt);
    LONG l = 0;
    ASSERT_TRUE(SUCCEEDED(VarI4FromDec(&back.decVal, &l)));
    EXPECT_EQ(-12345, l);
}

TEST_F(VariantItems, BstrAndArrays)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"hi");
    Bytes expected = {11, 10, 0, 0, 0, 8, 0, 4, 0, 0, 0, 'h', 0, 'i', 0};
    EXPECT_EQ(expected, Write(v));
    RoundTrip(v);

    VARIANT bytes;
    VariantInit(&bytes);
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    BYTE* pb = nullptr;
    SafeArrayAccessData(bytes.parray, reinterpret_cast<void**>(&pb));
    pb[0] = 1, pb[1] = 2, pb[2] = 3;
    SafeArrayUnaccessData(bytes.parray);
    Bytes expectedBytes = {11, 9, 0, 0, 0, 0x11, 0x20, 3, 0, 0, 0, 1, 2, 3};
    EXPECT_EQ(expectedBytes, Write(bytes));
    RoundTrip(bytes);

    VARIANT list;
    VariantInit(&list);
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    VARIANT* pElements = nullptr;
    SafeArrayAccessData(list.parray, reinterpret_cast<void**>(&pElements));
    pElements[0].vt = VT_I2;
    pElements[0].iVal = 5;
    VariantCopy(&pElements[1], &v);
    VariantCopy(&pElements[2], &bytes);
    SafeArrayUnaccessData(list.parray);
    Bytes listBytes = Write(list);
    // type, count, then element bodies: I2 (4), BSTR (2 + 4 + 4), UI1 array (2 + 4 + 3).
    ASSERT_EQ(5u + 2u + 4u + 4u + 10u + 9u, listBytes.size());
    RoundTrip(list);
    VariantClear(&list);
    VariantClear(&bytes);
    VariantClear(&v);
}

TEST_F(VariantItems, UnsupportedVariantsAreRefusedAndLeaveNothing)
{
    VARIANT v;
    VariantInit(&v);
    LONG l = 1;
    VARIANT byref;
    VariantInit(&byref);
    byref.vt = VT_BYREF | VT_I4;
    byref.plVal = &l;
    VARIANT twoDims;
    VariantInit(&twoDims);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    twoDims.vt = VT_ARRAY | VT_UI1;
    twoDims.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    VARIANT lowerBound;
    VariantInit(&lowerBound);
    lowerBound.vt = VT_ARRAY | VT_UI1;
    lowerBound.parray = SafeArrayCreateVector(VT_UI1, 1, 2);
    VARIANT ints;
    VariantInit(&ints);
    ints.vt = VT_ARRAY | VT_I4;
    ints.parray = SafeArrayCreateVector(VT_I4, 0, 2);
    for (VARTYPE vt : {VT_CY, VT_NULL, VT_ERROR, VT_LPSTR})
    {
        v.vt = vt;
        v.llVal = 0;
        CMemory memory;
        CMemoryArchive archive(memory, eArchiveMode_Store);
        EXPECT_FALSE(archive.WriteVariant(v)) << vt;
        EXPECT_EQ(0u, archive.GetTotal());
    }
    for (VARIANT* p : {&byref, &twoDims, &lowerBound, &ints})
        EXPECT_TRUE(Write(*p).empty());
    VariantClear(&twoDims);
    VariantClear(&lowerBound);
    VariantClear(&ints);
}

TEST_F(VariantItems, BodyLengthMustMatchExactly)
{
    // VT_I4 announced with 7 body bytes: one byte too many.
    Bytes tooLong = {11, 7, 0, 0, 0, 3, 0, 1, 0, 0, 0, 0};
    // and with 5: too few for the value.
    Bytes tooShort = {11, 5, 0, 0, 0, 3, 0, 1, 0, 0, 0};
    // an array count far beyond the body
    Bytes hugeArray = {11, 6, 0, 0, 0, 0x0C, 0x20, 0xFF, 0xFF, 0xFF, 0x7F};
    Bytes unknownType = {11, 2, 0, 0, 0, 6, 0};
    for (const Bytes& bytes : {tooLong, tooShort, hugeArray, unknownType})
    {
        VARIANT v;
        VariantInit(&v);
        EXPECT_FALSE(Read(bytes, &v));
        EXPECT_EQ(VT_EMPTY, v.vt);
    }
}

TEST_F(VariantItems, DeeplyNestedArraysAreRefusedOnLoad)
{
    // Each level: VT_ARRAY|VT_VARIANT with one element, nested far deeper than allowed.
    Bytes body;
    const int kLevels = 200;
    for (int i = 0; i < kLevels; ++i)
        body.insert(body.end(), {0x0C, 0x20, 1, 0, 0, 0});
    body.insert(body.end(), {0, 0});
    DWORD dwLength = static_cast<DWORD>(body.size());
    Bytes item = {11, BYTE(dwLength), BYTE(dwLength >> 8), 0, 0};
    item.insert(item.end(), body.begin(), body.end());
    VARIANT v;
    VariantInit(&v);
    EXPECT_FALSE(Read(item, &v));
}

TEST_F(VariantItems, ObjectsGoThroughTheStandardOleStreamSave)
{
    // A font object is a stock OLE object that supports IPersistStream.
    FONTDESC desc = {sizeof(FONTDESC), const_cast<LPOLESTR>(L"Arial"), {120000, 0}, FW_BOLD, ANSI_CHARSET, FALSE, FALSE, FALSE};
    IUnknown* pFont = nullptr;
    HRESULT hr = OleCreateFontIndirect(&desc, IID_IUnknown, reinterpret_cast<void**>(&pFont));
    if (FAILED(hr) || !pFont)
        GTEST_SKIP() << "no stock font object here";
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = pFont;
    Bytes bytes = Write(v);
    ASSERT_GT(bytes.size(), 5u + 2u + 4u + 16u);
    // The object's bytes begin with its class id.
    CLSID clsid;
    memcpy(&clsid, bytes.data() + 11, sizeof(clsid));
    EXPECT_EQ(CLSID_StdFont, clsid);
    VARIANT back;
    VariantInit(&back);
    ASSERT_TRUE(Read(bytes, &back));
    EXPECT_EQ(VT_UNKNOWN, back.vt);
    EXPECT_EQ(bytes, Write(back));
    VariantClear(&back);
    VariantClear(&v);

    VARIANT none;
    VariantInit(&none);
    none.vt = VT_UNKNOWN;
    EXPECT_TRUE(Write(none).empty());
}
