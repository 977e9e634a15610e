// The object model: reference counts, QueryInterface answers and smart references.
#include <gtest/gtest.h>
#include <utility>
#include "kqClassFactory.h"
#include "kqObjectRoot.h"
#include "kqSmartPtr.h"

namespace {

struct IGreeter : public IObjectBase
{
    static constexpr GUID kIid = {0x5a1c0d4e, 0x1111, 0x4b2a, {0x9e, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60}};
    virtual int Greet() = 0;
};

struct IUnanswered : public IObjectBase
{
    static constexpr GUID kIid = {0x5a1c0d4e, 0x2222, 0x4b2a, {0x9e, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x61}};
};

class CGreeter : public CObjectRoot, public IGreeter
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == IGreeter::kIid)
            return AnswerInterface(static_cast<IGreeter*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    int Greet() override { return 42; }
};

IObjectBase* CreateGreeter()
{
    return static_cast<IGreeter*>(new CGreeter);
}

IObjectBase* CreateNothing()
{
    return nullptr;
}

// Every case must leave no library object alive behind it.
class ObjectModel : public ::testing::Test
{
protected:
    void SetUp() override { m_lBaseline = GetModuleObjectCount(); }
    void TearDown() override { EXPECT_EQ(m_lBaseline, GetModuleObjectCount()); }
    LONG Live() const { return GetModuleObjectCount() - m_lBaseline; }
    LONG m_lBaseline = 0;
};

}  // namespace

TEST_F(ObjectModel, ObjectStartsWithOneReferenceAndDiesAtZero)
{
    IObjectBase* pObject = CreateGreeter();
    EXPECT_EQ(1, Live());
    EXPECT_EQ(2u, pObject->AddRef());
    EXPECT_EQ(1u, pObject->Release());
    EXPECT_EQ(1, Live());
    EXPECT_EQ(0u, pObject->Release());
    EXPECT_EQ(0, Live());
}

TEST_F(ObjectModel, QueryInterfaceAnswersKnownIdsWithAReference)
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateGreeter());
    for (const GUID& iid : {IObjectBase::kIid, IGreeter::kIid})
    {
        void* pOut = nullptr;
        ASSERT_EQ(KQ_OK, spObject->QueryInterface(iid, &pOut));
        ASSERT_NE(nullptr, pOut);
        // One from the query, one held here: releasing the query's leaves one.
        EXPECT_EQ(1u, static_cast<IGreeter*>(pOut)->Release());
    }
}

TEST_F(ObjectModel, QueryInterfaceRefusesUnknownIdAndMissingOutput)
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateGreeter());
    void* pOut = &spObject;  // anything but null: a refusal must clear it
    EXPECT_EQ(KQERR_NOINTERFACE, spObject->QueryInterface(IUnanswered::kIid, &pOut));
    EXPECT_EQ(nullptr, pOut);
    EXPECT_EQ(KQERR_INVALIDARG, spObject->QueryInterface(IGreeter::kIid, nullptr));
    EXPECT_EQ(KQERR_INVALIDARG, spObject->QueryInterface(IUnanswered::kIid, nullptr));
    // Neither refusal may have added a reference.
    EXPECT_EQ(2u, spObject->AddRef());
    EXPECT_EQ(1u, spObject->Release());
}

TEST_F(ObjectModel, SmartReferencesReleaseOnEveryPath)
{
    IObjectBase* pRaw = CreateGreeter();
    {
        CSmartPtr<IObjectBase> spCopy(pRaw);  // adds its own reference
        EXPECT_EQ(1u, pRaw->Release());  // the creator's reference is gone
        CSmartPtr<IObjectBase> spSecond = spCopy;
        CSmartPtr<IObjectBase> spMoved = std::move(spSecond);
        EXPECT_FALSE(spSecond);
        EXPECT_TRUE(spMoved == spCopy);
        CSmartPtr<IGreeter> spGreeter;
        ASSERT_EQ(KQ_OK, spGreeter.QueryFrom(spCopy.Get()));
        EXPECT_EQ(42, spGreeter->Greet());
        CSmartPtr<IUnanswered> spNone;
        EXPECT_EQ(KQERR_NOINTERFACE, spNone.QueryFrom(spCopy.Get()));
        EXPECT_FALSE(spNone);
        EXPECT_EQ(KQERR_INVALIDARG, spNone.QueryFrom(static_cast<IObjectBase*>(nullptr)));
        spMoved = nullptr;
        EXPECT_EQ(1, Live());
    }
    EXPECT_EQ(0, Live());
}

TEST_F(ObjectModel, QueryFromTheHeldObjectKeepsItAlive)
{
    CSmartPtr<IGreeter> spGreeter;
    spGreeter.Attach(static_cast<IGreeter*>(new CGreeter));
    ASSERT_EQ(KQ_OK, spGreeter.QueryFrom(spGreeter.Get()));
    EXPECT_EQ(42, spGreeter->Greet());
    EXPECT_EQ(1, Live());
    IGreeter* pOut = nullptr;
    ASSERT_EQ(KQ_OK, spGreeter.CopyTo(&pOut));
    EXPECT_EQ(1u, pOut->Release());
    EXPECT_EQ(KQERR_INVALIDARG, spGreeter.CopyTo(nullptr));
    IGreeter* pDetached = spGreeter.Detach();
    EXPECT_EQ(0u, pDetached->Release());
}

TEST_F(ObjectModel, CreateObjectAsDropsObjectsWithoutTheInterface)
{
    void* pOut = &pOut;
    EXPECT_EQ(KQERR_NOINTERFACE, CreateObjectAs(&CreateGreeter, IUnanswered::kIid, &pOut));
    EXPECT_EQ(nullptr, pOut);
    EXPECT_EQ(0, Live());
    pOut = &pOut;
    EXPECT_EQ(KQERR_OUTOFMEMORY, CreateObjectAs(&CreateNothing, IGreeter::kIid, &pOut));
    EXPECT_EQ(nullptr, pOut);
    EXPECT_EQ(KQERR_INVALIDARG, CreateObjectAs(&CreateGreeter, IGreeter::kIid, nullptr));
    EXPECT_EQ(KQERR_INVALIDARG, CreateObjectAs(nullptr, IGreeter::kIid, &pOut));

    CSmartPtr<IGreeter> spGreeter;
    ASSERT_EQ(KQ_OK, CreateObjectAs(&CreateGreeter, IGreeter::kIid, spGreeter.ReceiveVoid()));
    EXPECT_EQ(42, spGreeter->Greet());
    EXPECT_EQ(1, Live());
}

TEST_F(ObjectModel, ClassFactoryCreatesThroughItsCreator)
{
    CSmartPtr<IFactory> spFactory;
    ASSERT_EQ(KQ_OK, CreateClassFactory(&CreateGreeter, spFactory.Receive()));
    EXPECT_EQ(1, Live());  // the factory is a library object too
    CSmartPtr<IGreeter> spGreeter;
    ASSERT_EQ(KQ_OK, spFactory->CreateInstance(IGreeter::kIid, spGreeter.ReceiveVoid()));
    EXPECT_EQ(2, Live());
    EXPECT_EQ(KQERR_INVALIDARG, CreateClassFactory(nullptr, spFactory.Receive()));
    EXPECT_FALSE(spFactory);
    EXPECT_EQ(KQERR_INVALIDARG, CreateClassFactory(&CreateGreeter, nullptr));
}
