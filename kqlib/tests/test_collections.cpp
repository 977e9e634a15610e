// Value collections: typed gets and sets, conversions, copies, clones and the saved form.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstring>
#include <thread>
#include <objbase.h>
#include "kqIndexValueCollectionImpl.h"
#include "kqInstanceFactory.h"
#include "kqMemoryImpl.h"
#include "kqObjectCreate.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSerialTestUtil.h"
#include "kqStringImpl.h"
#include "kqValueAccess.h"

namespace {

CSmartPtr<IIndexValueCollection> NewIndexValues()
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateIndexValueCollectionImpl());
    CSmartPtr<IIndexValueCollection> spCollection;
    spCollection.QueryFrom(spObject.Get());
    return spCollection;
}

Bytes DWordItem(DWORD dw)
{
    return {3, BYTE(dw), BYTE(dw >> 8), BYTE(dw >> 16), BYTE(dw >> 24)};
}

// Every case must leave no library object alive.
class Collections : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The process-wide class registry is a library object that lives until the end.
        GetInstanceFactory();
        m_lBaseline = GetModuleObjectCount();
    }
    void TearDown() override { EXPECT_EQ(m_lBaseline, GetModuleObjectCount()); }
    LONG m_lBaseline = 0;
};

}  // namespace

TEST_F(Collections, InterfacesShareOnePointer)
{
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(spKeys);
    CSmartPtr<IValueCollection> spShared;
    ASSERT_EQ(KQ_OK, spShared.QueryFrom(spKeys.Get()));
    EXPECT_EQ(static_cast<IValueCollection*>(spKeys.Get()), spShared.Get());
    CSmartPtr<IIndexValueCollection> spWrong;
    EXPECT_EQ(KQERR_NOINTERFACE, spWrong.QueryFrom(spKeys.Get()));
    EXPECT_EQ(KQERR_INVALIDARG, spKeys->QueryInterface(IClone::kIid, nullptr));
    CSmartPtr<ISerialize> spSerialize;
    ASSERT_EQ(KQ_OK, spSerialize.QueryFrom(spKeys.Get()));
    GUID clsid;
    ASSERT_TRUE(spSerialize->GetClassID(&clsid));
    EXPECT_EQ(IKeyValueCollection::kIid, clsid);
}

TEST_F(Collections, ConversionsOnGet)
{
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(spKeys->SetDWord(7, 0xFFFFFFFE));
    LONG l = 0;
    LONGLONG ll = 0;
    double d = 0;
    WORD w = 0;
    bool b = false;
    EXPECT_TRUE(spKeys->GetLong(7, &l));
    EXPECT_EQ(-2, l);
    EXPECT_TRUE(spKeys->GetInt64(7, &ll));
    EXPECT_EQ(0xFFFFFFFELL, ll);
    EXPECT_TRUE(spKeys->GetDouble(7, &d));
    EXPECT_EQ(4294967294.0, d);
    EXPECT_FALSE(spKeys->GetWord(7, &w));
    EXPECT_TRUE(spKeys->GetBool(7, &b));
    EXPECT_TRUE(b);
    EXPECT_EQ(eValueType_DWord, spKeys->GetType(7));

    spKeys->SetConvertOnGet(false);
    EXPECT_FALSE(spKeys->GetLong(7, &l));
    EXPECT_TRUE(spKeys->GetDWord(7, reinterpret_cast<DWORD*>(&l)));
}

TEST_F(Collections, ConversionTable)
{
    // For each stored type: what every numeric get yields (or fails).
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(spKeys->SetChar(1, -1));
    ASSERT_TRUE(spKeys->SetShort(2, -1));
    ASSERT_TRUE(spKeys->SetInt64(3, -1));
    ASSERT_TRUE(spKeys->SetUInt64(4, 0xFFFFFFFFFFFFFFFFULL));
    ASSERT_TRUE(spKeys->SetBool(5, true));
    ASSERT_TRUE(spKeys->SetDouble(6, -0.5));
    ASSERT_TRUE(spKeys->SetByte(8, 0x80));
    ASSERT_TRUE(spKeys->SetWord(9, 0x8000));
    bool b = true;
    BYTE by = 0;
    SHORT s = 0;
    WORD w = 0;
    DWORD dw = 0;
    ULONGLONG ull = 0;
    LONGLONG ll = 0;
    double d = 0;
    signed char ch = 0;
    // Char -1: Bool false (not > 0), Byte 0xFF, Word 0xFFFF, DWord and UInt64 sign-extended.
    EXPECT_TRUE(spKeys->GetBool(1, &b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(spKeys->GetByte(1, &by));
    EXPECT_EQ(0xFF, by);
    EXPECT_TRUE(spKeys->GetWord(1, &w));
    EXPECT_EQ(0xFFFF, w);
    EXPECT_TRUE(spKeys->GetDWord(1, &dw));
    EXPECT_EQ(0xFFFFFFFFu, dw);
    EXPECT_TRUE(spKeys->GetUInt64(1, &ull));
    EXPECT_EQ(0xFFFFFFFFFFFFFFFFULL, ull);
    // Short: never to 8 bits.
    EXPECT_FALSE(spKeys->GetChar(2, &ch));
    EXPECT_FALSE(spKeys->GetByte(2, &by));
    EXPECT_TRUE(spKeys->GetWord(2, &w));
    EXPECT_EQ(0xFFFF, w);
    // Int64: only UInt64, Double, Bool.
    EXPECT_FALSE(spKeys->GetDWord(3, &dw));
    EXPECT_TRUE(spKeys->GetUInt64(3, &ull));
    EXPECT_TRUE(spKeys->GetDouble(3, &d));
    EXPECT_EQ(-1.0, d);
    // UInt64 to Double as an unsigned number.
    EXPECT_TRUE(spKeys->GetDouble(4, &d));
    EXPECT_EQ(18446744073709551615.0, d);
    EXPECT_TRUE(spKeys->GetInt64(4, &ll));
    EXPECT_EQ(-1, ll);
    // Bool widens to everything numeric.
    EXPECT_TRUE(spKeys->GetChar(5, &ch));
    EXPECT_EQ(1, ch);
    EXPECT_TRUE(spKeys->GetDouble(5, &d));
    EXPECT_EQ(1.0, d);
    // Double: only Bool.
    EXPECT_TRUE(spKeys->GetBool(6, &b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(spKeys->GetInt64(6, &ll));
    // Byte and Word are zero-extended.
    EXPECT_TRUE(spKeys->GetShort(8, &s));
    EXPECT_EQ(0x80, s);
    EXPECT_TRUE(spKeys->GetChar(8, &ch));
    EXPECT_EQ(-128, ch);
    EXPECT_TRUE(spKeys->GetInt64(9, &ll));
    EXPECT_EQ(0x8000, ll);
    EXPECT_TRUE(spKeys->GetShort(9, &s));
    EXPECT_EQ(-32768, s);
    // Nothing converts to or from Guid, Block16, Binary.
    GUID guid;
    EXPECT_FALSE(spKeys->GetGuid(1, &guid));
    ASSERT_TRUE(spKeys->SetGuid(10, &guid));
    EXPECT_FALSE(spKeys->GetDWord(10, &dw));
    // The stored value is never changed by a converting get.
    EXPECT_EQ(eValueType_Char, spKeys->GetType(1));
}

TEST_F(Collections, StringsSizesAndBuffers)
{
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(spKeys->SetDWord(5, 1));
    ASSERT_TRUE(spKeys->SetStringW(5, L"abc"));
    EXPECT_EQ(eValueType_StringW, spKeys->GetType(5));
    EXPECT_EQ(8u, spKeys->GetSize(5));
    ASSERT_TRUE(spKeys->SetStringA(6, "abc"));
    EXPECT_EQ(4u, spKeys->GetSize(6));
    ASSERT_TRUE(spKeys->SetBinary(7, nullptr, 0));
    EXPECT_EQ(0u, spKeys->GetSize(7));
    EXPECT_EQ(0u, spKeys->GetSize(99));
    EXPECT_EQ(0, spKeys->GetType(99));

    wchar_t sz[3] = {};
    DWORD dwSize = 0;
    EXPECT_FALSE(spKeys->GetStringWEx(5, sz, sizeof(sz), &dwSize));
    EXPECT_EQ(8u, dwSize);
    wchar_t szBig[4] = {};
    EXPECT_TRUE(spKeys->GetStringW(5, szBig, sizeof(szBig)));
    EXPECT_STREQ(L"abc", szBig);
    // StringA read as StringW through the ANSI code page, and back.
    EXPECT_TRUE(spKeys->GetStringW(6, szBig, sizeof(szBig)));
    EXPECT_STREQ(L"abc", szBig);
    char szA[4] = {};
    EXPECT_TRUE(spKeys->GetStringAEx(5, szA, sizeof(szA), &dwSize));
    EXPECT_EQ(4u, dwSize);
    EXPECT_STREQ("abc", szA);

    ASSERT_TRUE(spKeys->SetStringW(8, L""));
    wchar_t szEmpty[1] = {L'x'};
    EXPECT_TRUE(spKeys->GetStringW(8, szEmpty, sizeof(szEmpty)));
    EXPECT_EQ(L'\0', szEmpty[0]);

    std::wstring str;
    std::string strA;
    EXPECT_TRUE(GetValueString(spKeys.Get(), 6, str));
    EXPECT_EQ(L"abc", str);
    EXPECT_TRUE(GetValueStringA(spKeys.Get(), 5, strA));
    EXPECT_EQ("abc", strA);
    EXPECT_FALSE(GetValueString(nullptr, 5, str));
    EXPECT_TRUE(SetValueString(spKeys.Get(), 9, L"zz"));
    EXPECT_EQ(6u, spKeys->GetSize(9));
}

TEST_F(Collections, BinaryValues)
{
    auto spKeys = NewKeyValueCollection();
    EXPECT_FALSE(spKeys->SetBinary(1, nullptr, 4));
    ASSERT_TRUE(spKeys->SetBinary(1, "\x01\x02\x03\x04\x05", 5));
    BYTE ab[4] = {};
    DWORD dwSize = 0;
    EXPECT_FALSE(spKeys->GetBinaryEx(1, ab, sizeof(ab), &dwSize));
    EXPECT_EQ(5u, dwSize);
    EXPECT_FALSE(spKeys->GetBinaryEx(1, nullptr, 0, &dwSize));
    CMemory memory;
    ASSERT_TRUE(GetValueBinary(spKeys.Get(), 1, memory));
    Bytes expected = {1, 2, 3, 4, 5};
    EXPECT_EQ(expected, BytesOf(memory));
}

TEST_F(Collections, EnumerationIsInAscendingKeyOrder)
{
    auto spKeys = NewKeyValueCollection();
    spKeys->SetByte(0x4E, 1);
    spKeys->SetByte(0, 1);
    spKeys->SetByte(0x14, 1);
    std::vector<DWORD> keys;
    for (DWORD i = 0; i < spKeys->GetCount(); ++i)
    {
        DWORD dwKey = 0;
        ASSERT_TRUE(spKeys->GetKeyByIndex(i, &dwKey));
        keys.push_back(dwKey);
    }
    EXPECT_EQ((std::vector<DWORD>{0, 0x14, 0x4E}), keys);
    DWORD dwKey = 0;
    EXPECT_FALSE(spKeys->GetKeyByIndex(3, &dwKey));
    EXPECT_TRUE(spKeys->Remove(0x14));
    EXPECT_FALSE(spKeys->Remove(0x14));
    EXPECT_TRUE(spKeys->RemoveAll());
    EXPECT_EQ(0u, spKeys->GetCount());
}

TEST_F(Collections, DirtyFlag)
{
    auto spKeys = NewKeyValueCollection();
    CSmartPtr<ISerialize> spSerialize;
    spSerialize.QueryFrom(spKeys.Get());
    EXPECT_FALSE(spSerialize->IsDirty());
    spKeys->SetLong(1, 1);
    EXPECT_TRUE(spSerialize->IsDirty());
    SavedBytes(spKeys.Get());
    EXPECT_FALSE(spSerialize->IsDirty());
}

TEST_F(Collections, EmptyCollectionSavesNineteenBytes)
{
    auto spKeys = NewKeyValueCollection();
    Bytes expected = {6, 1, 0, 0, 0, 10, 1, 10, 0, 6, 1, 0, 0, 0, 3, 0, 0, 0, 0};
    EXPECT_EQ(expected, SavedBytes(spKeys.Get()));
    CSmartPtr<ISerialize> spSerialize;
    spSerialize.QueryFrom(spKeys.Get());
    EXPECT_EQ(19u, spSerialize->GetSizeMax());
}

TEST_F(Collections, EmbeddedSettingsLayoutLoads)
{
    // The layout of the settings block carried by the installer: header, 19 entries, then
    // zero padding that is not part of the collection.
    const DWORD keys[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 14, 18, 20, 60, 76, 78, 1001, 20502};
    Bytes bytes = {6, 1, 0, 0, 0, 10, 1, 10, 0, 6, 1, 0, 0, 0, 3, 19, 0, 0, 0};
    for (DWORD dwKey : keys)
    {
        Bytes entry = DWordItem(dwKey);
        if (dwKey == 1)
            entry = Concat({entry, {1, 7}, DWordItem(2)});
        else if (dwKey == 5)
            entry = Concat({entry, {1, 14, 8, 10, 0, 0, 0}, Utf16Bytes(L"1033")});
        else if (dwKey == 11)
            entry = Concat({entry, {1, 1, 10, 0}});
        else
            entry = Concat({entry, {1, 14, 8, 4, 0, 0, 0}, Utf16Bytes(L"x")});
        bytes = Concat({bytes, entry});
    }
    // key 1 is exactly the documented bytes
    Bytes key1 = {3, 1, 0, 0, 0, 1, 7, 3, 2, 0, 0, 0};
    EXPECT_NE(bytes.end(), std::search(bytes.begin(), bytes.end(), key1.begin(), key1.end()));
    size_t cbCollection = bytes.size();
    bytes.resize(cbCollection + 64, 0);

    auto spKeys = NewKeyValueCollection();
    CSmartPtr<CMemoryStreamImpl> spStream = StreamOf(bytes);
    CSmartPtr<ISerialize> spSerialize;
    spSerialize.QueryFrom(spKeys.Get());
    ASSERT_TRUE(spSerialize->Load(spStream.Get()));
    ULONGLONG ullPosition = 0;
    spStream->GetPosition(&ullPosition);
    EXPECT_EQ(cbCollection, ullPosition);
    EXPECT_EQ(19u, spKeys->GetCount());
    DWORD dw = 0;
    EXPECT_TRUE(spKeys->GetDWord(1, &dw));
    EXPECT_EQ(2u, dw);
    std::wstring str;
    EXPECT_TRUE(GetValueString(spKeys.Get(), 5, str));
    EXPECT_EQ(L"1033", str);
    bool b = true;
    EXPECT_TRUE(spKeys->GetBool(11, &b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(spKeys->GetConvertOnGet());
    EXPECT_FALSE(spKeys->GetCloneObjects());
    // Written again, it is the same bytes.
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + cbCollection), SavedBytes(spKeys.Get()));
}

TEST_F(Collections, FailedLoadsLeaveTheCollectionEmpty)
{
    Bytes good = {6, 1, 0, 0, 0, 10, 1, 10, 0, 6, 1, 0, 0, 0, 3, 1, 0, 0, 0, 3, 7, 0, 0, 0, 1, 7, 3, 5, 0, 0, 0};
    Bytes version2 = good;
    version2[1] = 2;
    Bytes mapVersion2 = good;
    mapVersion2[10] = 2;
    Bytes badType = good;
    badType[25] = 18;
    Bytes truncated(good.begin(), good.end() - 1);
    Bytes countTooHigh = good;
    countTooHigh[15] = 2;
    for (const Bytes& bytes : {version2, mapVersion2, badType, truncated, countTooHigh})
    {
        auto spKeys = NewKeyValueCollection();
        spKeys->SetLong(100, 1);
        EXPECT_FALSE(LoadBytes(spKeys.Get(), bytes));
        EXPECT_EQ(0u, spKeys->GetCount());
    }
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(LoadBytes(spKeys.Get(), good));
    DWORD dw = 0;
    EXPECT_TRUE(spKeys->GetDWord(7, &dw));
    EXPECT_EQ(5u, dw);
}

TEST_F(Collections, RepeatedKeyOverwrites)
{
    Bytes bytes = {6, 1, 0, 0, 0, 10, 0, 10, 1, 6, 1, 0, 0, 0, 3, 2, 0, 0, 0};
    bytes = Concat({bytes, DWordItem(4), {1, 3, 1, 9}, DWordItem(4), {1, 6, 6, 2, 0, 0, 0}});
    auto spKeys = NewKeyValueCollection();
    ASSERT_TRUE(LoadBytes(spKeys.Get(), bytes));
    EXPECT_EQ(1u, spKeys->GetCount());
    EXPECT_EQ(eValueType_Long, spKeys->GetType(4));
    EXPECT_FALSE(spKeys->GetConvertOnGet());
    EXPECT_TRUE(spKeys->GetCloneObjects());
}

TEST_F(Collections, EveryTypeRoundTrips)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        auto spKeys = NewKeyValueCollection();
        GUID guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
        KQBLOCK16 block = {{1, 2, 3, 4}};
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(L"variant");
        CSmartPtr<IObjectBase> spString;
        spString.Attach(CreateStringImpl());
        CSmartPtr<IString> spText;
        spText.QueryFrom(spString.Get());
        spText->SetStringW(L"inner");
        auto spInner = NewKeyValueCollection();
        spInner->SetWord(3, 33);
        spKeys->SetBool(1, true);
        spKeys->SetChar(2, -3);
        spKeys->SetByte(3, 3);
        spKeys->SetShort(4, -4);
        spKeys->SetWord(5, 5);
        spKeys->SetLong(6, -6);
        spKeys->SetDWord(7, 7);
        spKeys->SetInt64(8, -8);
        spKeys->SetUInt64(9, 9);
        spKeys->SetDouble(10, 10.5);
        spKeys->SetGuid(11, &guid);
        spKeys->SetBlock16(12, &block);
        spKeys->SetStringA(13, "thirteen");
        spKeys->SetStringW(14, L"fourteen");
        spKeys->SetBinary(15, "\x0F\x0F", 2);
        spKeys->SetVariant(16, &v);
        spKeys->SetObjectRef(17, spString.Get());
        spKeys->SetObjectRef(18, spInner.Get());
        VariantClear(&v);

        Bytes bytes = SavedBytes(spKeys.Get());
        ASSERT_FALSE(bytes.empty());
        CSmartPtr<ISerialize> spSerialize;
        spSerialize.QueryFrom(spKeys.Get());
        EXPECT_EQ(bytes.size(), spSerialize->GetSizeMax());

        auto spBack = NewKeyValueCollection();
        ASSERT_TRUE(LoadBytes(spBack.Get(), bytes));
        EXPECT_EQ(bytes, SavedBytes(spBack.Get()));
        for (DWORD dwKey = 1; dwKey <= 17; ++dwKey)
            EXPECT_EQ(dwKey, spBack->GetType(dwKey));
        CSmartPtr<IObjectBase> spObject;
        ASSERT_TRUE(spBack->GetObjectRef(17, spObject.Receive()));
        CSmartPtr<IString> spBackText;
        ASSERT_EQ(KQ_OK, spBackText.QueryFrom(spObject.Get()));
        EXPECT_STREQ(L"inner", spBackText->GetStringW());
        EXPECT_NE(spText.Get(), spBackText.Get());
        ASSERT_TRUE(spBack->GetObjectRef(18, spObject.Receive()));
        CSmartPtr<IKeyValueCollection> spBackInner;
        ASSERT_EQ(KQ_OK, spBackInner.QueryFrom(spObject.Get()));
        WORD w = 0;
        EXPECT_TRUE(spBackInner->GetWord(3, &w));
        EXPECT_EQ(33, w);
        VARIANT back;
        VariantInit(&back);
        ASSERT_TRUE(spBack->GetVariant(16, &back));
        EXPECT_STREQ(L"variant", back.bstrVal);
        VariantClear(&back);

        // The Object value's layout: a 16-byte binary block with the class id, then a binary
        // item whose body is the object's own saved form.
        Bytes stringForm = SavedBytes(spString.Get());
        GUID clsid = CStringImpl::kClassId;
        Bytes expected = Concat({DWordItem(17), {1, 17, 9, 16, 0, 0, 0}, Bytes(reinterpret_cast<BYTE*>(&clsid),
                                                                            reinterpret_cast<BYTE*>(&clsid) + 16),
                                 {9, BYTE(stringForm.size()), 0, 0, 0}, stringForm});
        EXPECT_NE(bytes.end(), std::search(bytes.begin(), bytes.end(), expected.begin(), expected.end()));
    }
    CoUninitialize();
}

TEST_F(Collections, ObjectOfAnUnknownClassFailsTheLoad)
{
    auto spKeys = NewKeyValueCollection();
    CSmartPtr<IObjectBase> spMemory;
    spMemory.Attach(CreateMemoryImpl());
    ASSERT_TRUE(spKeys->SetObjectRef(1, spMemory.Get()));
    Bytes bytes = SavedBytes(spKeys.Get());
    GUID clsid = CMemoryImpl::kClassId;
    auto it = std::search(bytes.begin(), bytes.end(), reinterpret_cast<BYTE*>(&clsid), reinterpret_cast<BYTE*>(&clsid) + 16);
    ASSERT_NE(bytes.end(), it);
    *it ^= 0xFF;
    auto spBack = NewKeyValueCollection();
    EXPECT_FALSE(LoadBytes(spBack.Get(), bytes));
    EXPECT_EQ(0u, spBack->GetCount());
}

TEST_F(Collections, ObjectNestingIsBounded)
{
    // A chain of collections nested far deeper than a load accepts is refused, with no crash.
    auto spTop = NewKeyValueCollection();
    CSmartPtr<IKeyValueCollection> spCurrent = spTop;
    for (int i = 0; i < CArchive::kMaxObjectDepth + 5; ++i)
    {
        auto spChild = NewKeyValueCollection();
        ASSERT_TRUE(spCurrent->SetObjectRef(1, spChild.Get()));
        spCurrent = spChild;
    }
    // Saving refuses as well: its own saved form would be too deep to read back.
    EXPECT_TRUE(SavedBytes(spTop.Get()).empty());

    // A collection that holds itself cannot be saved without end.
    auto spSelf = NewKeyValueCollection();
    ASSERT_TRUE(spSelf->SetObjectRef(1, spSelf.Get()));
    EXPECT_TRUE(SavedBytes(spSelf.Get()).empty());
    spSelf->RemoveAll();  // breaks the reference cycle
}

TEST_F(Collections, CloneObjectsDecidesSharing)
{
    auto spKeys = NewKeyValueCollection();
    CSmartPtr<IObjectBase> spString;
    spString.Attach(CreateStringImpl());
    ASSERT_TRUE(spKeys->SetObjectRef(1, spString.Get()));
    CSmartPtr<IObjectBase> spOut;
    ASSERT_TRUE(spKeys->GetObjectRef(1, spOut.Receive()));
    EXPECT_EQ(spString.Get(), spOut.Get());
    spKeys->SetCloneObjects(true);
    ASSERT_TRUE(spKeys->GetObjectRef(1, spOut.Receive()));
    EXPECT_NE(spString.Get(), spOut.Get());
    ASSERT_TRUE(spKeys->SetObjectRef(2, spString.Get()));
    spKeys->SetCloneObjects(false);
    ASSERT_TRUE(spKeys->GetObjectRef(2, spOut.Receive()));
    EXPECT_NE(spString.Get(), spOut.Get());
}

// Cloning a chain of nested collections that all clone their objects copies each level once,
// not twice per level (which would double the work with every level).
TEST_F(Collections, CloningNestedCollectionsCopiesEachLevelOnce)
{
    const auto start = std::chrono::steady_clock::now();
    auto spTop = NewKeyValueCollection();
    spTop->SetCloneObjects(true);
    CSmartPtr<IKeyValueCollection> spCurrent = spTop;
    for (int i = 0; i < 24; ++i)
    {
        auto spChild = NewKeyValueCollection();
        spChild->SetCloneObjects(true);
        ASSERT_TRUE(spChild->SetLong(2, i));
        // Shared while the chain is built, cloned when it is copied.
        spCurrent->SetCloneObjects(false);
        ASSERT_TRUE(spCurrent->SetObjectRef(1, spChild.Get()));
        spCurrent->SetCloneObjects(true);
        spCurrent = spChild;
    }
    CSmartPtr<IClone> spClone;
    spClone.QueryFrom(spTop.Get());
    CSmartPtr<IObjectBase> spCopy;
    ASSERT_TRUE(spClone->Clone(spCopy.Receive()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 3000);
    EXPECT_EQ(SavedBytes(spTop.Get()), SavedBytes(spCopy.Get()));
}

TEST_F(Collections, CopyFromAndClone)
{
    auto spSource = NewKeyValueCollection();
    spSource->SetConvertOnGet(false);
    spSource->SetStringA(1, "a");
    spSource->SetStringW(2, L"bb");
    spSource->SetBinary(3, "\x01", 1);
    spSource->SetDouble(4, 2.5);
    auto spTarget = NewKeyValueCollection();
    spTarget->SetLong(77, 1);
    CSmartPtr<IClone> spClone;
    spClone.QueryFrom(spTarget.Get());
    ASSERT_TRUE(spClone->CopyFrom(spSource.Get()));
    EXPECT_EQ(SavedBytes(spSource.Get()).size() - 0, SavedBytes(spSource.Get()).size());
    EXPECT_EQ(4u, spTarget->GetCount());
    EXPECT_FALSE(spTarget->Exists(77));

    CSmartPtr<IClone> spSourceClone;
    spSourceClone.QueryFrom(spSource.Get());
    CSmartPtr<IObjectBase> spCopy;
    ASSERT_TRUE(spSourceClone->Clone(spCopy.Receive()));
    EXPECT_EQ(SavedBytes(spSource.Get()), SavedBytes(spCopy.Get()));

    // A source with an empty Binary or an Empty value cannot be copied.
    auto spBad = NewKeyValueCollection();
    spBad->SetBinary(1, nullptr, 0);
    EXPECT_FALSE(spClone->CopyFrom(spBad.Get()));
    EXPECT_EQ(0u, spTarget->GetCount());
    // Another kind of collection is refused.
    auto spIndex = NewIndexValues();
    EXPECT_FALSE(spClone->CopyFrom(spIndex.Get()));
}

TEST_F(Collections, IndexCollectionByPosition)
{
    auto spList = NewIndexValues();
    EXPECT_FALSE(spList->SetWord(0, 1));
    ASSERT_TRUE(spList->AddWord(0x409));
    ASSERT_TRUE(spList->AddWord(0x407));
    ASSERT_TRUE(spList->AddStringW(L"x"));
    EXPECT_EQ(3u, spList->GetCount());
    WORD w = 0;
    EXPECT_TRUE(spList->GetWord(1, &w));
    EXPECT_EQ(0x407, w);
    EXPECT_TRUE(spList->SetLong(1, -1));
    EXPECT_EQ(eValueType_Long, spList->GetType(1));
    EXPECT_FALSE(spList->SetLong(3, 1));
    EXPECT_TRUE(spList->Remove(0));
    EXPECT_EQ(eValueType_Long, spList->GetType(0));
    EXPECT_EQ(eValueType_StringW, spList->GetType(1));

    Bytes bytes = SavedBytes(spList.Get());
    Bytes head = {6, 1, 0, 0, 0, 10, 1, 10, 0, 6, 1, 0, 0, 0, 3, 2, 0, 0, 0, 3, 0, 0, 0, 0, 1, 6, 6};
    ASSERT_GE(bytes.size(), head.size());
    EXPECT_EQ(head, Bytes(bytes.begin(), bytes.begin() + head.size()));
    auto spBack = NewIndexValues();
    ASSERT_TRUE(LoadBytes(spBack.Get(), bytes));
    EXPECT_EQ(bytes, SavedBytes(spBack.Get()));

    // A position at or beyond the count fails the load.
    Bytes badPosition = bytes;
    badPosition[20] = 2;
    EXPECT_FALSE(LoadBytes(spBack.Get(), badPosition));
    EXPECT_EQ(0u, spBack->GetCount());
    // A huge count in a short buffer fails without building a huge sequence.
    Bytes hugeCount = {6, 1, 0, 0, 0, 10, 1, 10, 0, 6, 1, 0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 1, 0};
    EXPECT_FALSE(LoadBytes(spBack.Get(), hugeCount));

    CSmartPtr<IClone> spClone;
    spClone.QueryFrom(spBack.Get());
    ASSERT_TRUE(spClone->CopyFrom(spList.Get()));
    EXPECT_EQ(2u, spBack->GetCount());
}

TEST_F(Collections, ClassIdCreation)
{
    EnsurePersistableClasses();
    CSmartPtr<IKeyValueCollection> spKeys;
    ASSERT_EQ(KQ_OK, CreateObjectByClassId(CKeyValueCollectionImpl::kClassId, IKeyValueCollection::kIid,
                                           spKeys.ReceiveVoid()));
    EXPECT_EQ(0u, spKeys->GetCount());
    void* pNothing = reinterpret_cast<void*>(1);
    GUID unknown = {0xdeadbeef, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(KQERR_INVALIDARG, CreateObjectByClassId(unknown, IObjectBase::kIid, &pNothing));
    EXPECT_EQ(nullptr, pNothing);
}

TEST_F(Collections, ConcurrentSetsAndGets)
{
    auto spKeys = NewKeyValueCollection();
    std::vector<std::thread> threads;
    for (DWORD t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (DWORD i = 0; i < 500; ++i)
            {
                spKeys->SetDWord(t * 1000 + i, i);
                LONG l = 0;
                spKeys->GetLong(t * 1000 + i, &l);
                spKeys->GetSize(i);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(2000u, spKeys->GetCount());
}
