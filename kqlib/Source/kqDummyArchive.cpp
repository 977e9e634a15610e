#include "kqDummyArchive.h"
#include <new>
#include "kqObjectRoot.h"

namespace {

// Every call succeeds; nothing is kept.
class CNullStream : public CObjectRoot, public IByteStream
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == IByteStream::kIid)
            return AnswerInterface(static_cast<IByteStream*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    bool GetSize(ULONGLONG* pullSize) override { return pullSize && (*pullSize = 0, true); }
    bool SetSize(ULONGLONG) override { return true; }
    bool GetPosition(ULONGLONG* pullPosition) override { return pullPosition && (*pullPosition = 0, true); }
    bool SetPosition(ULONGLONG) override { return true; }
    bool Write(const void*, DWORD) override { return true; }
    bool Read(void*, DWORD) override { return true; }
};

}  // namespace

bool CDummyArchive::OpenWindow(DWORD, bool, IByteStream** ppStream)
{
    if (!ppStream)
        return false;
    *ppStream = new (std::nothrow) CNullStream;
    return *ppStream != nullptr;
}

bool CDummyArchive::ReadBytes(void*, DWORD)
{
    return true;
}

bool CDummyArchive::WriteBytes(const void*, DWORD)
{
    return true;
}

bool CDummyArchive::GetPosition(ULONGLONG* pullPosition)
{
    if (!pullPosition)
        return false;
    *pullPosition = 0;
    return true;
}

bool CDummyArchive::SetPosition(ULONGLONG)
{
    return true;
}
