// The 7z decoder's entry point: creates the streaming 7z archive handler. Everything else is
// reached through the handler's interfaces (IInArchive and the stream and callback interfaces
// that it calls), declared by the 7-Zip headers included here.
#pragma once
#include <windows.h>

#include "Common/MyWindows.h"
#include "Common/MyCom.h"
#include "7zip/Archive/IArchive.h"
#include "7zip/IStream.h"
#include "7zip/PropID.h"
#include "Windows/PropVariant.h"

// A new 7z archive handler with one reference in *ppArchive. E_OUTOFMEMORY when it cannot be
// made, E_INVALIDARG without ppArchive.
HRESULT CreateSevenZipInArchive(IInArchive** ppArchive);

// Item results the handler passes to IArchiveExtractCallback::SetOperationResult.
enum ESevenZipItemResult
{
    eSevenZipItemResult_OK = 0,
    eSevenZipItemResult_UnsupportedMethod = 1,
    eSevenZipItemResult_DataError = 2,
    eSevenZipItemResult_CrcError = 3,
    eSevenZipItemResult_Unavailable = 4,
    eSevenZipItemResult_UnexpectedEnd = 5,
};
