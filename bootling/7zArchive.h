// The 7z archive adapter: opens a 7z archive from a library stream (usually a window on the
// package file) and extracts it into a folder, a folder's part of it, or one file, streaming
// every item to disk as the decoder produces it.
//
// Use: C7zArchive::Initialize, Open, one Extract call, Release. Item paths that would leave the
// target folder are refused before anything is written.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "SevenZipDecoder.h"
#include "kqByteStream.h"
#include "kqFile.h"
#include "kqSmartPtr.h"

// The adapter's own results.
constexpr HRESULT E_7Z_CRC_ERROR = static_cast<HRESULT>(0x80047C70);
constexpr HRESULT E_7Z_DATA_ERROR = static_cast<HRESULT>(0x80047C71);
constexpr HRESULT E_7Z_UNSUPPORTED = static_cast<HRESULT>(0x80047C72);
constexpr HRESULT E_7Z_NOT_ARCHIVE = static_cast<HRESULT>(0x80047C73);
constexpr HRESULT E_7Z_UNAVAILABLE = static_cast<HRESULT>(0x80047C79);
constexpr HRESULT E_7Z_UNEXPECTED_END = static_cast<HRESULT>(0x80047C7A);
// An item whose path would land outside the target folder.
constexpr HRESULT E_7Z_UNSAFE_PATH = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);

class C7zArchive final : public IInStream, public IArchiveOpenCallback, public IArchiveExtractCallback
{
public:
    enum EExtractMode : DWORD
    {
        eExtractMode_Archive = 1,
        eExtractMode_Folder = 2,
        eExtractMode_File = 3,
    };

    class CInternalFile;

    // A new adapter with its decoder, one reference in *ppArchive. E_OUTOFMEMORY when either
    // cannot be created.
    static HRESULT Initialize(C7zArchive** ppArchive);

    // Opens the archive on the stream from its position 0. E_INVALIDARG for a null stream,
    // 0x80047C73 when the stream holds no 7z archive.
    HRESULT Open(IByteStream* pStream);
    // Every item, at its item path below the target folder.
    HRESULT ExtractArchive(const wchar_t* pszTarget);
    // The items whose path begins with "InstallPackage" (any case), without that first path
    // component, below the target folder. 0x80070002 when there is none.
    HRESULT ExtractFolder(const wchar_t* pszTarget);
    // The first item named pszItemName (any case), written to pszOutputPath. 0x80070002 when
    // there is none.
    HRESULT ExtractFile(const wchar_t* pszItemName, const wchar_t* pszOutputPath);

    // Typed readers of an item's property. E_UNEXPECTED for a property that is absent or of
    // another type (logged when present).
    HRESULT GetProperty(UInt32 nIndex, PROPID propId, std::wstring& strValue);
    HRESULT GetProperty(UInt32 nIndex, PROPID propId, bool& bValue);
    HRESULT GetProperty(UInt32 nIndex, PROPID propId, DWORD& dwValue);
    HRESULT GetProperty(UInt32 nIndex, PROPID propId, FILETIME& ftValue);

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** ppObject) throw() override;
    STDMETHOD_(ULONG, AddRef)() throw() override;
    STDMETHOD_(ULONG, Release)() throw() override;

    // The decoder's input: positions and sizes are the stream's.
    Z7_IFACE_COM7_IMP(ISequentialInStream)
    Z7_IFACE_COM7_IMP(IInStream)
    // Open progress.
    Z7_IFACE_COM7_IMP(IArchiveOpenCallback)
    // Extraction: progress, one output stream per item and its result.
    Z7_IFACE_COM7_IMP(IProgress)
    Z7_IFACE_COM7_IMP(IArchiveExtractCallback)

private:
    class CInputLink;

    C7zArchive() = default;
    ~C7zArchive();
    C7zArchive(const C7zArchive&) = delete;
    C7zArchive& operator=(const C7zArchive&) = delete;

    HRESULT BeginExtraction(EExtractMode eMode, const wchar_t* pszTarget);
    HRESULT RunExtraction();
    enum ESelect
    {
        eSelect_AllWithPrefix,
        eSelect_FirstEqual,
    };
    HRESULT SelectItems(const wchar_t* pszName, ESelect eSelect);
    HRESULT OutputPathOf(UInt32 nIndex, std::wstring& strOutput, bool& bDirectory);

    volatile LONG m_lRefCount = 1;
    CMyComPtr<IInArchive> m_spArchive;
    CSmartPtr<IByteStream> m_spInStream;
    std::wstring m_strTarget;
    DWORD m_eMode = eExtractMode_Archive;
    std::vector<UInt32> m_vecIndices;
    // What the decoder reads through; it refers back to this object without a reference, so
    // that the decoder holding its input keeps no cycle alive.
    CMyComPtr<IInStream> m_spInputLink;
};

// The output stream for one item: owns the file it writes and closes it with its last
// reference, setting the item's modification time last.
class C7zArchive::CInternalFile final : public IOutStream, public ISequentialInStream, public IStreamGetSize
{
public:
    // A new object with one reference, or nullptr when memory runs out.
    static CInternalFile* Create();

    CFile& GetFile() { return m_File; }
    // The last-write time the file gets when it is closed.
    void SetModificationTime(const FILETIME& ftTime);

    STDMETHOD(QueryInterface)(REFIID riid, void** ppObject) throw() override;
    STDMETHOD_(ULONG, AddRef)() throw() override;
    STDMETHOD_(ULONG, Release)() throw() override;

    Z7_IFACE_COM7_IMP(ISequentialOutStream)
    Z7_IFACE_COM7_IMP(IOutStream)
    Z7_IFACE_COM7_IMP(ISequentialInStream)
    Z7_IFACE_COM7_IMP(IStreamGetSize)

private:
    CInternalFile() = default;
    ~CInternalFile();

    volatile LONG m_lRefCount = 1;
    CFile m_File;
    bool m_bHasTime = false;
    FILETIME m_ftModified = {};
};
