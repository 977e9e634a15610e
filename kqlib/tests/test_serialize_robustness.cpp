// Loading hostile bytes: deterministic mutations (truncations, flipped bytes, boundary lengths
// and random edits) of valid saved collections must load or fail cleanly, never crash, hang
// or allocate far beyond the input. KQ_ROBUSTNESS_EXTRA=<n> adds n more random mutations per
// sample for longer runs by hand; KQ_ROBUSTNESS_SEED changes their seed.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include "kqInstanceFactory.h"
#include "kqDigestImpl.h"
#include "kqIndexValueCollectionImpl.h"
#include "kqMemoryImpl.h"
#include "kqObjectCreate.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSerialTestUtil.h"
#include "kqStringImpl.h"

namespace {

// A small deterministic generator, the same on every machine.
class CRandom
{
public:
    explicit CRandom(DWORD dwSeed) : m_ullState(dwSeed * 6364136223846793005ULL + 1442695040888963407ULL) {}
    DWORD Next()
    {
        m_ullState = m_ullState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<DWORD>(m_ullState >> 33);
    }
    DWORD Below(DWORD dwLimit) { return dwLimit ? Next() % dwLimit : 0; }

private:
    ULONGLONG m_ullState;
};

DWORD EnvNumber(const char* pszName, DWORD dwDefault)
{
    const char* psz = getenv(pszName);
    return psz && *psz ? static_cast<DWORD>(strtoul(psz, nullptr, 10)) : dwDefault;
}

SIZE_T PeakCommit()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)) ? counters.PeakPagefileUsage : 0;
}

// Valid saved collections that cover every value type, nested objects and arrays.
std::vector<Bytes> Samples()
{
    std::vector<Bytes> samples;
    auto spKeys = NewKeyValueCollection();
    GUID guid = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    KQBLOCK16 block = {{1, 2, 3, 4}};
    spKeys->SetBool(0, true);
    spKeys->SetChar(1, -1);
    spKeys->SetByte(2, 2);
    spKeys->SetShort(3, -3);
    spKeys->SetWord(4, 4);
    spKeys->SetLong(5, -5);
    spKeys->SetDWord(6, 6);
    spKeys->SetInt64(7, -7);
    spKeys->SetUInt64(8, 8);
    spKeys->SetDouble(9, 9.5);
    spKeys->SetGuid(10, &guid);
    spKeys->SetBlock16(11, &block);
    spKeys->SetStringA(12, "twelve");
    spKeys->SetStringW(13, L"thirteen");
    spKeys->SetBinary(14, "\x01\x02\x03\x04", 4);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    VARIANT* pElements = nullptr;
    SafeArrayAccessData(v.parray, reinterpret_cast<void**>(&pElements));
    pElements[0].vt = VT_BSTR;
    pElements[0].bstrVal = SysAllocString(L"element");
    pElements[1].vt = VT_I4;
    pElements[1].lVal = 1;
    pElements[2].vt = VT_ARRAY | VT_UI1;
    pElements[2].parray = SafeArrayCreateVector(VT_UI1, 0, 5);
    SafeArrayUnaccessData(v.parray);
    spKeys->SetVariant(15, &v);
    VariantClear(&v);
    CSmartPtr<IObjectBase> spString;
    spString.Attach(CreateStringImpl());
    CSmartPtr<IString> spText;
    spText.QueryFrom(spString.Get());
    spText->SetStringW(L"object");
    spKeys->SetObjectRef(16, spString.Get());
    CSmartPtr<IObjectBase> spMemory;
    spMemory.Attach(CreateMemoryImpl());
    CSmartPtr<IMemory> spMemoryData;
    spMemoryData.QueryFrom(spMemory.Get());
    spMemoryData->SetData("memory", 6);
    spKeys->SetObjectRef(17, spMemory.Get());
    CSmartPtr<IObjectBase> spDigest;
    spDigest.Attach(CreateDigest20Impl());
    spKeys->SetObjectRef(18, spDigest.Get());
    // Nested collections, three deep, one of them an index collection.
    auto spInner = NewKeyValueCollection();
    spInner->SetStringA(1, "inner");
    CSmartPtr<IObjectBase> spListObject;
    spListObject.Attach(CreateIndexValueCollectionImpl());
    CSmartPtr<IIndexValueCollection> spList;
    spList.QueryFrom(spListObject.Get());
    spList->AddWord(0x409);
    spList->AddStringW(L"list");
    spInner->SetObjectRef(2, spListObject.Get());
    spKeys->SetObjectRef(19, spInner.Get());
    samples.push_back(SavedBytes(spKeys.Get()));
    samples.push_back(SavedBytes(spListObject.Get()));
    samples.push_back(SavedBytes(spInner.Get()));
    return samples;
}

struct CRunStats
{
    DWORD dwLoads = 0;
    DWORD dwAccepted = 0;
};

void LoadOne(const Bytes& bytes, CRunStats& stats)
{
    CSmartPtr<IObjectBase> spKeysObject, spListObject;
    spKeysObject.Attach(CreateKeyValueCollectionImpl());
    spListObject.Attach(CreateIndexValueCollectionImpl());
    for (IObjectBase* pTarget : {spKeysObject.Get(), spListObject.Get()})
    {
        CSmartPtr<IValueCollection> spCollection;
        spCollection.QueryFrom(pTarget);
        bool bLoaded = LoadBytes(pTarget, bytes);
        ++stats.dwLoads;
        if (bLoaded)
        {
            ++stats.dwAccepted;
            // Whatever loaded can be saved and measured again.
            CSmartPtr<ISerialize> spSerialize;
            spSerialize.QueryFrom(pTarget);
            spSerialize->GetSizeMax();
        }
        else
            ASSERT_EQ(0u, spCollection->GetCount());
    }
}

void WriteDWordAt(Bytes& bytes, size_t i, DWORD dw)
{
    for (int b = 0; b < 4 && i + b < bytes.size(); ++b)
        bytes[i + b] = BYTE(dw >> (8 * b));
}

}  // namespace

TEST(SerializeRobustness, MutatedCollectionsLoadOrFailCleanly)
{
    EnsurePersistableClasses();
    EnsureClassAvailable(g_aDigestClasses[1].clsid, CreateDigest20Impl);
    GetInstanceFactory();  // lives until the end of the process
    LONG lObjectsBefore = GetModuleObjectCount();
    std::vector<Bytes> samples = Samples();
    for (const Bytes& sample : samples)
    {
        ASSERT_FALSE(sample.empty());
        CRunStats check;
        LoadOne(sample, check);
        ASSERT_GE(check.dwAccepted, 1u);
    }

    DWORD dwExtra = EnvNumber("KQ_ROBUSTNESS_EXTRA", 0);
    CRandom random(EnvNumber("KQ_ROBUSTNESS_SEED", 1));
    SIZE_T cbPeakBefore = PeakCommit();
    auto start = std::chrono::steady_clock::now();
    CRunStats stats;
    for (const Bytes& sample : samples)
    {
        // Every truncation.
        for (size_t cb = 0; cb < sample.size(); ++cb)
            LoadOne(Bytes(sample.begin(), sample.begin() + cb), stats);
        // Every byte flipped (all bits, then the low bit).
        for (size_t i = 0; i < sample.size(); ++i)
            for (BYTE bMask : {BYTE(0xFF), BYTE(0x01)})
            {
                Bytes bytes = sample;
                bytes[i] ^= bMask;
                LoadOne(bytes, stats);
            }
        // Boundary numbers wherever a length, count or key might lie.
        for (size_t i = 0; i + 4 <= sample.size(); ++i)
            for (DWORD dw : std::initializer_list<DWORD>{0, 1, 0x7FFFFFFF, 0xFFFFFFFF, static_cast<DWORD>(sample.size())})
            {
                Bytes bytes = sample;
                WriteDWordAt(bytes, i, dw);
                LoadOne(bytes, stats);
            }
        // Random edits: a few bytes changed, a block removed or repeated.
        DWORD dwRandom = 200 + dwExtra;
        for (DWORD n = 0; n < dwRandom; ++n)
        {
            Bytes bytes = sample;
            DWORD dwEdits = 1 + random.Below(4);
            for (DWORD e = 0; e < dwEdits && !bytes.empty(); ++e)
            {
                size_t i = random.Below(static_cast<DWORD>(bytes.size()));
                switch (random.Below(3))
                {
                case 0:
                    bytes[i] = static_cast<BYTE>(random.Next());
                    break;
                case 1:
                    bytes.erase(bytes.begin() + i, bytes.begin() + std::min(bytes.size(), static_cast<size_t>(i + 1 + random.Below(8))));
                    break;
                default:
                {
                    size_t cb = std::min(bytes.size() - i, static_cast<size_t>(1 + random.Below(16)));
                    Bytes copy(bytes.begin() + i, bytes.begin() + i + cb);
                    bytes.insert(bytes.begin() + i, copy.begin(), copy.end());
                    break;
                }
                }
            }
            LoadOne(bytes, stats);
        }
    }
    double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SIZE_T cbPeakAfter = PeakCommit();
    printf("robustness: %lu loads (%lu accepted) in %.2f s\n", static_cast<unsigned long>(stats.dwLoads),
           static_cast<unsigned long>(stats.dwAccepted), dSeconds);
    EXPECT_GE(stats.dwLoads, 2000u);
    // The inputs are a few kilobytes: no load may have reserved anything near a length field.
    EXPECT_LT(cbPeakAfter - cbPeakBefore, static_cast<SIZE_T>(64) * 1024 * 1024);
    EXPECT_EQ(lObjectsBefore, GetModuleObjectCount());
}
