// Digest holders: kinds, saved layout, loading rules and copies between kinds.
#include <gtest/gtest.h>
#include "kqDigestImpl.h"
#include "kqInstanceFactory.h"
#include "kqObjectCreate.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSerialTestUtil.h"

namespace {

CSmartPtr<IDigest> NewDigest(DWORD dwKind)
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateDigestImpl(dwKind));
    CSmartPtr<IDigest> spDigest;
    spDigest.QueryFrom(spObject.Get());
    return spDigest;
}

}  // namespace

TEST(Digest, KindsLengthsAndIds)
{
    for (const DigestClass& c : g_aDigestClasses)
    {
        SCOPED_TRACE(c.dwKind);
        auto spDigest = NewDigest(c.dwKind);
        ASSERT_TRUE(spDigest);
        EXPECT_EQ(c.dwKind, spDigest->GetKind());
        void* p = nullptr;
        EXPECT_EQ(KQ_OK, spDigest->QueryInterface(c.iidOwn, &p));
        static_cast<IDigest*>(p)->Release();
        for (const DigestClass& other : g_aDigestClasses)
        {
            if (&other != &c)
            {
                EXPECT_EQ(KQERR_NOINTERFACE, spDigest->QueryInterface(other.iidOwn, &p));
            }
        }
        Bytes bytes = SavedBytes(spDigest.Get());
        EXPECT_EQ(10u + c.dwLength, bytes.size());
        for (DWORD i = 0; i < c.dwLength; ++i)
            EXPECT_EQ(0, spDigest->GetValue()[i]);
    }
    EXPECT_EQ(nullptr, CreateDigestImpl(5));
}

TEST(Digest, Kind2SavedLayout)
{
    auto spDigest = NewDigest(2);
    BYTE ab[20];
    for (BYTE i = 0; i < 20; ++i)
        ab[i] = i + 1;
    spDigest->SetValue(ab);
    Bytes expected = Concat({{6, 1, 0, 0, 0, 9, 0x14, 0, 0, 0}, Bytes(ab, ab + 20)});
    EXPECT_EQ(expected, SavedBytes(spDigest.Get()));
    auto spBack = NewDigest(2);
    ASSERT_TRUE(LoadBytes(spBack.Get(), expected));
    EXPECT_EQ(0, memcmp(ab, spBack->GetValue(), 20));
}

TEST(Digest, LoadRequiresVersionAndExactLength)
{
    auto spKind2 = NewDigest(2);
    Bytes twenty = SavedBytes(spKind2.Get());
    auto spKind3 = NewDigest(3);
    EXPECT_FALSE(LoadBytes(spKind3.Get(), twenty));
    auto spKind1 = NewDigest(1);
    EXPECT_FALSE(LoadBytes(spKind1.Get(), twenty));
    Bytes version2 = twenty;
    version2[1] = 2;
    EXPECT_FALSE(LoadBytes(spKind2.Get(), version2));
}

TEST(Digest, CopyFromAndCloneStayWithinTheKind)
{
    auto spKind1 = NewDigest(1);
    auto spKind4 = NewDigest(4);
    CSmartPtr<IClone> spClone4;
    spClone4.QueryFrom(spKind4.Get());
    EXPECT_FALSE(spClone4->CopyFrom(spKind1.Get()));
    BYTE ab[16];
    memset(ab, 0x5A, sizeof(ab));
    spKind1->SetValue(ab);
    CSmartPtr<IClone> spClone1;
    spClone1.QueryFrom(spKind1.Get());
    CSmartPtr<IObjectBase> spCopy;
    ASSERT_TRUE(spClone1->Clone(spCopy.Receive()));
    EXPECT_EQ(SavedBytes(spKind1.Get()), SavedBytes(spCopy.Get()));
}

TEST(Digest, StoredAsObjectValueAndRecreatedByClassId)
{
    // The class registry knows the four digest classes from its start.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(GetInstanceFactory()->IsAvailable(g_aDigestClasses[i].clsid)) << i;
    CSmartPtr<IKeyValueCollection> spKeys = NewKeyValueCollection();
    auto spDigest = NewDigest(3);
    BYTE ab[32];
    memset(ab, 0x33, sizeof(ab));
    spDigest->SetValue(ab);
    ASSERT_TRUE(spKeys->SetObjectRef(9, spDigest.Get()));
    Bytes bytes = SavedBytes(spKeys.Get());
    ASSERT_FALSE(bytes.empty());
    CSmartPtr<IKeyValueCollection> spBackKeys = NewKeyValueCollection();
    ASSERT_TRUE(LoadBytes(spBackKeys.Get(), bytes));
    CSmartPtr<IObjectBase> spValue;
    ASSERT_TRUE(spBackKeys->GetObjectRef(9, spValue.Receive()));
    CSmartPtr<IDigest> spBackDigest;
    ASSERT_EQ(KQ_OK, spBackDigest.QueryFrom(spValue.Get()));
    EXPECT_EQ(3u, spBackDigest->GetKind());
    EXPECT_EQ(0, memcmp(ab, spBackDigest->GetValue(), 32));
}
