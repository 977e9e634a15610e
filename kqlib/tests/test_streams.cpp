// Files, memory blocks, the library streams and the persistable string and memory objects.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "kqFile.h"
#include "kqFileStream.h"
#include "kqMemoryImpl.h"
#include "kqSerialTestUtil.h"
#include "kqStringImpl.h"
#include "kqTestFiles.h"
#include "kqWindowStream.h"

TEST(File, OpenWithEmptyPathFailsWithoutTouchingTheLastError)
{
    CFile file;
    EXPECT_FALSE(file.Open(L"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.Open(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(0u, file.GetLastError());
    EXPECT_FALSE(file.Open(L"C:\\no\\such\\folder\\file.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(0u, file.GetLastError());
    EXPECT_FALSE(file.IsOpen());
}

TEST(File, ReadWriteSeekAndSize)
{
    kqtest::CTempDir folder;
    std::wstring strPath = folder.Path() + L"\\data.bin";
    CFile file;
    ASSERT_TRUE(file.Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.Write("0123456789", 10));
    ULONGLONG ull = 0;
    ASSERT_TRUE(file.GetSize(&ull));
    EXPECT_EQ(10u, ull);
    char ab[4] = {};
    ASSERT_TRUE(file.ReadAt(2, ab, 3));
    EXPECT_STREQ("234", ab);
    ASSERT_TRUE(file.GetPosition(&ull));
    EXPECT_EQ(5u, ull);
    // A read that reaches the end early fails although some bytes came.
    ASSERT_TRUE(file.SetPosition(8));
    EXPECT_FALSE(file.Read(ab, 4));
    ASSERT_TRUE(file.SetSize(4));
    ASSERT_TRUE(file.GetPosition(&ull));
    EXPECT_EQ(4u, ull);
    ASSERT_TRUE(file.GetSize(&ull));
    EXPECT_EQ(4u, ull);
    ASSERT_TRUE(file.Seek(-1, FILE_END));
    ASSERT_TRUE(file.Read(ab, 1));
    EXPECT_EQ('3', ab[0]);
    EXPECT_TRUE(file.WriteEmpty());
    EXPECT_TRUE(file.Flush());
    file.Close();
    EXPECT_FALSE(file.IsOpen());
}

TEST(Memory, InlineThenHeap)
{
    CMemory memory;
    void* p = memory.Allocate(100);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(eAllocKind_Inline, memory.GetKind());
    memset(p, 0xAB, 100);
    BYTE* pGrown = static_cast<BYTE*>(memory.Resize(200));
    ASSERT_NE(nullptr, pGrown);
    EXPECT_EQ(eAllocKind_RuntimeHeap, memory.GetKind());
    EXPECT_EQ(200u, memory.GetSize());
    EXPECT_EQ(0xAB, pGrown[99]);
    EXPECT_EQ(0, pGrown[100]);
    EXPECT_EQ(0, pGrown[199]);
    EXPECT_EQ(pGrown, memory.Resize(200));
}

TEST(Memory, Kinds)
{
    CMemory memory;
    EXPECT_EQ(nullptr, memory.Resize(10));
    // Process heap: the size becomes the heap's block size.
    ASSERT_NE(nullptr, memory.Allocate(eAllocKind_ProcessHeap, 300));
    EXPECT_GE(memory.GetSize(), 300u);
    memset(memory.GetData(), 7, 300);
    ASSERT_NE(nullptr, memory.Resize(50));
    EXPECT_EQ(eAllocKind_Inline, memory.GetKind());
    EXPECT_EQ(7, static_cast<BYTE*>(memory.GetData())[49]);
    // Virtual memory: whole pages; a resize inside the same pages keeps the block.
    void* pVirtual = memory.Allocate(eAllocKind_Virtual, 10);
    ASSERT_NE(nullptr, pVirtual);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwPageSize, memory.GetSize());
    EXPECT_EQ(pVirtual, memory.Resize(20));
    // Caller functions are needed for kind 6.
    EXPECT_EQ(nullptr, memory.Allocate(eAllocKind_Caller, 10));
    memory.SetCallerFunctions([](DWORD dw) { return malloc(dw); }, [](void* p) { free(p); });
    ASSERT_NE(nullptr, memory.Allocate(eAllocKind_Caller, 10));
    EXPECT_EQ(0, static_cast<BYTE*>(memory.GetData())[9]);
    // Kind 5 above 128 bytes falls back to the run-time heap.
    ASSERT_NE(nullptr, memory.Allocate(eAllocKind_Inline, 129));
    EXPECT_EQ(eAllocKind_RuntimeHeap, memory.GetKind());
    // Someone else's memory cannot be resized and is not freed.
    static BYTE s_ab[8];
    memory.Attach(s_ab, sizeof(s_ab));
    EXPECT_EQ(nullptr, memory.Resize(16));
    EXPECT_FALSE(memory.SetData(eAllocKind_RuntimeHeap, nullptr, 4));
}

TEST(Memory, CopyAndTakeOver)
{
    CMemory big, small, copy;
    ASSERT_TRUE(big.SetData(eAllocKind_RuntimeHeap, std::string(300, 'b').data(), 300));
    ASSERT_TRUE(small.SetData(eAllocKind_ProcessHeap, "abc", 3));
    ASSERT_TRUE(copy.CopyFrom(big));
    EXPECT_EQ(BytesOf(big), BytesOf(copy));
    EXPECT_NE(big.GetData(), copy.GetData());
    void* pBig = big.GetData();
    CMemory owner;
    owner.TakeOver(big);
    EXPECT_EQ(pBig, owner.GetData());
    EXPECT_EQ(nullptr, big.GetData());
    owner.TakeOver(small);
    EXPECT_EQ(eAllocKind_Inline, owner.GetKind());
    EXPECT_EQ(0, memcmp("abc", owner.GetData(), 3));
    EXPECT_EQ(0u, small.GetSize());
}

TEST(MemoryStream, PositionAndSizeRules)
{
    CSmartPtr<CMemoryStreamImpl> spStream = StreamOf(Bytes(10, 1));
    ASSERT_TRUE(spStream->SetPosition(8));
    BYTE ab[4] = {};
    EXPECT_FALSE(spStream->Read(ab, 4));
    ULONGLONG ull = 0;
    spStream->GetPosition(&ull);
    EXPECT_EQ(8u, ull);
    ASSERT_TRUE(spStream->Write("\x02\x02\x02\x02", 4));
    spStream->GetSize(&ull);
    EXPECT_EQ(12u, ull);
    EXPECT_TRUE(spStream->SetPosition(12));
    EXPECT_FALSE(spStream->SetPosition(13));
    ASSERT_TRUE(spStream->SetSize(20));
    spStream->GetPosition(&ull);
    EXPECT_EQ(0u, ull);
    EXPECT_EQ(1, static_cast<BYTE*>(spStream->GetMemory().GetData())[0]);
}

TEST(WindowStream, StaysInsideItsRange)
{
    CSmartPtr<CMemoryStreamImpl> spBase = StreamOf({0, 1, 2, 3, 4, 5, 6, 7});
    CSmartPtr<IByteStream> spWindow;
    spWindow.Attach(CWindowStream::CreateOnStream(spBase.Get(), 2, 4));
    ULONGLONG ull = 0;
    spWindow->GetSize(&ull);
    EXPECT_EQ(4u, ull);
    EXPECT_FALSE(spWindow->SetSize(2));
    BYTE ab[5] = {};
    EXPECT_FALSE(spWindow->Read(ab, 5));
    ASSERT_TRUE(spWindow->Read(ab, 3));
    EXPECT_EQ(2, ab[0]);
    EXPECT_EQ(4, ab[2]);
    EXPECT_FALSE(spWindow->Write("\x09\x09", 2));
    ASSERT_TRUE(spWindow->Write("\x09", 1));
    EXPECT_EQ(9, static_cast<BYTE*>(spBase->GetMemory().GetData())[5]);
    EXPECT_TRUE(spWindow->SetPosition(4));
    EXPECT_FALSE(spWindow->SetPosition(5));

    CMemory memory;
    PutBytes(memory, {0, 1, 2, 3});
    CSmartPtr<IByteStream> spOnMemory;
    spOnMemory.Attach(CWindowStream::CreateOnMemory(&memory, 1, 2));
    ASSERT_TRUE(spOnMemory->Read(ab, 2));
    EXPECT_EQ(1, ab[0]);
    EXPECT_FALSE(spOnMemory->Read(ab, 1));
}

TEST(FileStream, OverItsFile)
{
    kqtest::CTempDir folder;
    std::wstring strPath = folder.Path() + L"\\stream.bin";
    CSmartPtr<CFileStreamImpl> spStream;
    spStream.Attach(CreateFileStreamImpl());
    ASSERT_TRUE(spStream->GetFile().Open(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                         nullptr));
    CSmartPtr<IObjectBase> spString;
    spString.Attach(CreateStringImpl());
    CSmartPtr<IString> spText;
    spText.QueryFrom(spString.Get());
    spText->SetStringA("on disk");
    CSmartPtr<ISerialize> spSerialize;
    spSerialize.QueryFrom(spString.Get());
    ASSERT_TRUE(spSerialize->Save(spStream.Get()));
    ULONGLONG ull = 0;
    spStream->GetSize(&ull);
    EXPECT_EQ(spSerialize->GetSizeMax(), ull);
    ASSERT_TRUE(spStream->SetPosition(0));
    spText->Clear();
    ASSERT_TRUE(spSerialize->Load(spStream.Get()));
    EXPECT_STREQ("on disk", spText->GetStringA());
    EXPECT_EQ(eStringType_Ansi, spText->GetType());
}

TEST(StringImpl, FormsTypesAndSavedLayout)
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateStringImpl());
    CSmartPtr<IString> spText;
    spText.QueryFrom(spObject.Get());
    EXPECT_EQ(0, spText->GetType());
    EXPECT_EQ((Bytes{6, 1, 0, 0, 0, 6, 0, 0, 0, 0}), SavedBytes(spObject.Get()));
    ASSERT_TRUE(spText->SetStringW(L"hi"));
    EXPECT_STREQ("hi", spText->GetStringA());
    EXPECT_EQ(eStringType_Wide, spText->GetType());
    EXPECT_EQ(2u, spText->GetLength());
    EXPECT_EQ((Bytes{6, 1, 0, 0, 0, 6, 2, 0, 0, 0, 8, 6, 0, 0, 0, 'h', 0, 'i', 0, 0, 0}), SavedBytes(spObject.Get()));
    ASSERT_TRUE(spText->AssignA("x"));
    EXPECT_EQ((Bytes{6, 1, 0, 0, 0, 6, 1, 0, 0, 0, 7, 2, 0, 0, 0, 'x', 0}), SavedBytes(spObject.Get()));
    EXPECT_FALSE(LoadBytes(spObject.Get(), {6, 1, 0, 0, 0, 6, 3, 0, 0, 0}));
    EXPECT_FALSE(LoadBytes(spObject.Get(), {6, 2, 0, 0, 0, 6, 0, 0, 0, 0}));
    EXPECT_STREQ(L"x", spText->GetStringW());

    CSmartPtr<IClone> spClone;
    spClone.QueryFrom(spObject.Get());
    CSmartPtr<IObjectBase> spCopy;
    ASSERT_TRUE(spClone->Clone(spCopy.Receive()));
    EXPECT_EQ(SavedBytes(spObject.Get()), SavedBytes(spCopy.Get()));
}

TEST(MemoryImpl, SavedLayoutAndClone)
{
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(CreateMemoryImpl());
    CSmartPtr<IMemory> spMemory;
    spMemory.QueryFrom(spObject.Get());
    ASSERT_NE(nullptr, spMemory->SetData("\x01\x02\x03", 3));
    EXPECT_EQ((Bytes{6, 1, 0, 0, 0, 9, 3, 0, 0, 0, 1, 2, 3}), SavedBytes(spObject.Get()));
    CSmartPtr<IObjectBase> spBack;
    spBack.Attach(CreateMemoryImpl());
    ASSERT_TRUE(LoadBytes(spBack.Get(), SavedBytes(spObject.Get())));
    CSmartPtr<IMemory> spBackMemory;
    spBackMemory.QueryFrom(spBack.Get());
    EXPECT_EQ(3u, spBackMemory->GetSize());
    CSmartPtr<IClone> spClone;
    spClone.QueryFrom(spObject.Get());
    CSmartPtr<IObjectBase> spString;
    spString.Attach(CreateStringImpl());
    EXPECT_FALSE(spClone->CopyFrom(spString.Get()));
}
