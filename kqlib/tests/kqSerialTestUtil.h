// Shared helpers of the serialization tests: byte vectors in and out of memory objects,
// streams and collections.
#pragma once
#include <cstring>
#include <vector>
#include "kqMemory.h"
#include "kqMemoryStream.h"
#include "kqSerialize.h"
#include "kqSmartPtr.h"

using Bytes = std::vector<BYTE>;

inline Bytes BytesOf(const CMemory& memory)
{
    const BYTE* p = static_cast<const BYTE*>(memory.GetData());
    return p ? Bytes(p, p + memory.GetSize()) : Bytes();
}

inline void PutBytes(CMemory& memory, const Bytes& bytes)
{
    memory.Free();
    if (!bytes.empty())
        memory.SetData(eAllocKind_RuntimeHeap, bytes.data(), static_cast<DWORD>(bytes.size()));
}

inline CSmartPtr<CMemoryStreamImpl> StreamOf(const Bytes& bytes)
{
    CSmartPtr<CMemoryStreamImpl> spStream;
    spStream.Attach(CreateMemoryStreamImpl());
    PutBytes(spStream->GetMemory(), bytes);
    return spStream;
}

// The saved form of an object, or an empty vector when Save fails.
inline Bytes SavedBytes(IObjectBase* pObject)
{
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(pObject)))
        return Bytes();
    CSmartPtr<CMemoryStreamImpl> spStream = StreamOf(Bytes());
    if (!spSerialize->Save(spStream.Get()))
        return Bytes();
    return BytesOf(spStream->GetMemory());
}

inline bool LoadBytes(IObjectBase* pObject, const Bytes& bytes)
{
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(pObject)))
        return false;
    CSmartPtr<CMemoryStreamImpl> spStream = StreamOf(bytes);
    return spSerialize->Load(spStream.Get());
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Utf16Bytes(const wchar_t* psz)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(psz);
    return Bytes(p, p + (wcslen(psz) + 1) * 2);
}
