// The handler's creator. This one file defines the interface GUIDs and carries the codec
// registrations: they are static objects that a linker would drop from a library of their own,
// and the 7z handler finds its coders only through them.
#include "Common/MyInitGuid.h"

#include "SevenZipDecoder.h"

#include <new>

#include "../C/7zCrc.h"
#include "7zip/Archive/7z/7zHandler.h"

#include "7zip/Compress/CopyRegister.cpp"
#include "7zip/Compress/LzmaRegister.cpp"
#include "7zip/Compress/Lzma2Register.cpp"
#include "7zip/Compress/BcjRegister.cpp"
#include "7zip/Compress/Bcj2Register.cpp"

namespace {

// The CRC table is otherwise built by a static object in a file this library does not contain.
// It is built with the first archive object, so runs that open no archive do not pay for it.
struct CCrcTable
{
    CCrcTable() { CrcGenerateTable(); }
};

}  // namespace

HRESULT CreateSevenZipInArchive(IInArchive** ppArchive)
{
    if (!ppArchive)
        return E_INVALIDARG;
    *ppArchive = nullptr;
    static const CCrcTable s_CrcTable;
    try
    {
        IInArchive* pArchive = new NArchive::N7z::CHandler;
        pArchive->AddRef();
        *ppArchive = pArchive;
        return S_OK;
    }
    catch (...)  // the decoder's classes throw their own types, too, when memory runs out
    {
        return E_OUTOFMEMORY;
    }
}
