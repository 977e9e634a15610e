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
struct CCrcTable
{
    CCrcTable() { CrcGenerateTable(); }
};
const CCrcTable g_CrcTable;

}  // namespace

HRESULT CreateSevenZipInArchive(IInArchive** ppArchive)
{
    if (!ppArchive)
        return E_INVALIDARG;
    *ppArchive = nullptr;
    try
    {
        IInArchive* pArchive = new NArchive::N7z::CHandler;
        pArchive->AddRef();
        *ppArchive = pArchive;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}
