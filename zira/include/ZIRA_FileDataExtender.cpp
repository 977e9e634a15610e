#include "ZIRA_FileDataExtender.h"

#include <new>

#include "kqCrc32.h"
#include "kqMemoryStream.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSerialize.h"
#include "kqTrace.h"
#include "kqValueAccess.h"
#include "kqWindowStream.h"

namespace ZIRA {

namespace {

const DWORD kMagicV1 = 0x50417062;  // "bpAP"
const DWORD kMagicV0 = 0x62704170;  // bytes 70 41 70 62
const DWORD kHeaderSizeV1 = 20;
const DWORD kHeaderSizeV0 = 8;
// The fixed header of a WIN_CERTIFICATE (length, revision, type).
const DWORD kCertificateHeaderSize = 8;
// Certificates are aligned to 8 bytes: the table may end in up to 7 bytes of padding.
const ULONGLONG kMaxCertificatePadding = 7;

}  // namespace

DWORD CFileDataExtender::HashPayload(const void* pData, DWORD dwSize)
{
    DWORD dwHash = Crc32(pData, dwSize);
    dwHash = Crc32Update(0x42, dwHash);
    return Crc32Update(0x50, dwHash);
}

bool CFileDataExtender::EnsureCollection()
{
    if (m_spCollection)
        return true;
    m_spCollection = NewKeyValueCollection();
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(64) : out of memory");
        return false;
    }
    return true;
}

bool CFileDataExtender::IsOpen() const
{
    return m_spFileStream && m_spFileStream->GetFile().IsOpen();
}

bool CFileDataExtender::IsWritable() const
{
    // A write of no bytes succeeds only on a handle opened for writing.
    return IsOpen() && m_spFileStream->GetFile().WriteEmpty();
}

ULONGLONG CFileDataExtender::BlockPosition() const
{
    return static_cast<ULONGLONG>(m_dwCertificateTableOffset) + m_dwSignatureSize;
}

bool CFileDataExtender::ReadU32(ULONGLONG ullPosition, DWORD& dwValue)
{
    return m_spFileStream->SetPosition(ullPosition) && m_spFileStream->Read(&dwValue, sizeof(dwValue));
}

bool CFileDataExtender::WriteU32(DWORD dwValue)
{
    return m_spFileStream->Write(&dwValue, sizeof(dwValue));
}

LONGLONG CFileDataExtender::GetStreamPos(ULONGLONG ullPosition)
{
    if (!IsOpen()) {
        TraceError(L"ZIRA::CFileDataExtender::GetStreamPos(1016) : must Initialize");
        return 0;
    }
    DWORD dwMagic = 0;
    if (ullPosition > 0x7FFFFFFFFFFFFFF0ULL || !ReadU32(ullPosition + 4, dwMagic))
        return -1;
    if (dwMagic == kMagicV0) {
        m_dwVersion = 0;
        m_dwHash = 0;
        m_dwUsedSize = 0;
        return static_cast<LONGLONG>(ullPosition);
    }
    if (dwMagic == kMagicV1) {
        // A header cut short is no block: nothing of it may replace what was recorded before.
        DWORD dwVersion = 0;
        DWORD dwHash = 0;
        DWORD dwUsedSize = 0;
        if (!ReadU32(ullPosition + 8, dwVersion) || !ReadU32(ullPosition + 12, dwHash) ||
            !ReadU32(ullPosition + 16, dwUsedSize))
            return -1;
        m_dwVersion = dwVersion;
        m_dwHash = dwHash;
        m_dwUsedSize = dwUsedSize;
        return static_cast<LONGLONG>(ullPosition);
    }
    return -1;
}

bool CFileDataExtender::CheckBlockBounds(ULONGLONG ullPosition, DWORD dwHeaderSize, ULONGLONG& ullPayloadSize)
{
    // The sizes come from a part of the file no signature covers: they must describe a block
    // that lies inside the file before anything is read or allocated by them.
    ULONGLONG ullFileLength = 0;
    DWORD dwTotal = 0;
    bool bOk = m_spFileStream->GetSize(&ullFileLength) && ullPosition <= ullFileLength &&
               ReadU32(ullPosition, dwTotal) && dwTotal >= dwHeaderSize && dwTotal <= ullFileLength - ullPosition;
    if (bOk && m_dwVersion == 1)
        bOk = m_dwUsedSize >= kHeaderSizeV1 && m_dwUsedSize <= dwTotal;
    if (!bOk) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(226) : damaged data block: size %lu, used size %lu, file size %I64u",
                   dwTotal, m_dwUsedSize, ullFileLength);
        return false;
    }
    ullPayloadSize = (m_dwVersion == 1 ? m_dwUsedSize : dwTotal) - dwHeaderSize;
    return true;
}

bool CFileDataExtender::CheckWritableLayout(const wchar_t* pszWhere, ULONGLONG& ullFileLength)
{
    ullFileLength = 0;
    if (!m_spFileStream->GetSize(&ullFileLength)) {
        TraceError(L"ZIRA::CFileDataExtender::%ls : failed to get the file size", pszWhere);
        return false;
    }
    const ULONGLONG ullBlock = BlockPosition();
    if (ullBlock < m_dwEndOfImage || ullBlock > ullFileLength) {
        TraceError(L"ZIRA::CFileDataExtender::%ls : data block position %I64u lies inside the image or beyond the file "
                   L"(end of image %lu, file size %I64u)",
                   pszWhere, ullBlock, m_dwEndOfImage, ullFileLength);
        return false;
    }
    if (GetStreamPos(ullBlock) != -1) {
        DWORD dwTotal = 0;
        if (!ReadU32(ullBlock, dwTotal) || ullBlock + dwTotal != ullFileLength) {
            TraceError(L"ZIRA::CFileDataExtender::%ls : data block at %I64u of %lu bytes does not end the file "
                       L"(file size %I64u)",
                       pszWhere, ullBlock, dwTotal, ullFileLength);
            return false;
        }
    } else if (ullFileLength - ullBlock > kMaxCertificatePadding) {
        TraceError(L"ZIRA::CFileDataExtender::%ls : %I64u bytes that are no data block follow position %I64u",
                   pszWhere, ullFileLength - ullBlock, ullBlock);
        return false;
    }
    return true;
}

bool CFileDataExtender::LoadPayload(ULONGLONG ullPosition, ULONGLONG ullSize)
{
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(m_spCollection.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(192) : failed to QI for ISerialize");
        return false;
    }
    // A window on the payload: the loader can neither read beyond the block nor take a length
    // inside the payload for more than the block holds.
    CSmartPtr<IByteStream> spPayload;
    spPayload.Attach(CWindowStream::CreateOnStream(static_cast<IByteStream*>(m_spFileStream.Get()), ullPosition, ullSize));
    if (!spPayload || !spSerialize->Load(spPayload.Get())) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(268) : failed to load stream into kvc");
        return false;
    }
    return true;
}

bool CFileDataExtender::Initialize(const wchar_t* pszFileName, bool bWritable)
{
    // The offsets of a file whose layout could not be learnt are no place to write to: a failed
    // Initialize leaves no file open, not even the one of an earlier Initialize.
    m_spFileStream.Reset();
    if (OpenAndLoad(pszFileName, bWritable))
        return true;
    m_spFileStream.Reset();
    return false;
}

bool CFileDataExtender::OpenAndLoad(const wchar_t* pszFileName, bool bWritable)
{
    if (!EnsureCollection())
        return false;
    try {
        m_strFileName = pszFileName ? pszFileName : L"";
    } catch (const std::bad_alloc&) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(87) : out of memory");
        return false;
    }
    CSmartPtr<::CFileStreamImpl> spStream;
    spStream.Attach(::CreateFileStreamImpl());
    if (!spStream) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(100) : out of memory");
        return false;
    }
    m_spFileStream = spStream;

    // Nothing learnt from an earlier file may carry over to this one.
    m_bHeadersRead = false;
    m_bSigned = false;
    m_dwSignatureSize = 0;
    m_dwVersion = 1;
    m_dwHash = 0;
    m_dwUsedSize = 0;

    CFile& file = m_spFileStream->GetFile();
    if (!file.Open(m_strFileName.c_str(), bWritable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                   nullptr, OPEN_EXISTING, 0))
        return false;
    if (!ReadHeaders(file, false)) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(118) : failed to read PE headers");
        return false;
    }
    ULONGLONG ullFileLength = 0;
    if (!file.GetSize(&ullFileLength))
        return false;

    if (m_dwCertificateTableOffset == 0 || m_dwCertificateTableSize == 0) {
        TraceWarning(L"ZIRA::CFileDataExtender::Initialize(125) : file is not signed: %ls", m_strFileName.c_str());
        if (ullFileLength >= 0x100000000ULL) {
            TraceError(L"ZIRA::CFileDataExtender::Initialize(146) : file is larger than 4GB, which is not supported by this tool");
            return false;
        }
        // A block would go at the end of the file.
        m_dwCertificateTableOffset = static_cast<DWORD>(ullFileLength);
    } else if (GetStreamPos(BlockPosition()) == -1) {
        // No block starts the table: a real certificate comes first.
        m_bSigned = true;
        if (!ReadU32(m_dwCertificateTableOffset, m_dwSignatureSize)) {
            TraceError(L"ZIRA::CFileDataExtender::Initialize(167) : failed to get the signature size");
            return false;
        }
        // A length that does not cover its own header, or runs past the table or the file,
        // would put the block on top of the certificate or outside the file.
        if (m_dwSignatureSize < kCertificateHeaderSize || m_dwSignatureSize > m_dwCertificateTableSize ||
            BlockPosition() > ullFileLength) {
            TraceError(L"ZIRA::CFileDataExtender::Initialize(172) : invalid signature size: %lu", m_dwSignatureSize);
            return false;
        }
    }

    const LONGLONG llBlock = GetStreamPos(BlockPosition());
    if (llBlock == -1)
        return true;
    const ULONGLONG ullBlock = static_cast<ULONGLONG>(llBlock);

    if (m_dwVersion > 1) {
        TraceError(L"ZIRA::CFileDataExtender::Initialize(209) : unknown version: %lu", m_dwVersion);
        return false;
    }
    const DWORD dwHeaderSize = m_dwVersion == 0 ? kHeaderSizeV0 : kHeaderSizeV1;
    ULONGLONG ullPayloadSize = 0;
    if (!CheckBlockBounds(ullBlock, dwHeaderSize, ullPayloadSize))
        return false;
    if (!LoadPayload(ullBlock + dwHeaderSize, ullPayloadSize))
        return false;
    if (!bWritable)
        file.Close();
    return true;
}

bool CFileDataExtender::Save()
{
    // Data of a higher version is refused first: the Initialize that found it failed and let
    // the file go, and the caller is to learn why nothing can be saved.
    if (m_dwVersion > 1) {
        TraceError(L"ZIRA::CFileDataExtender::Save(304) : existing data is a higher version (%lu), do not overwrite",
                   m_dwVersion);
        return false;
    }
    if (!IsWritable()) {
        TraceError(L"ZIRA::CFileDataExtender::Save(287) : must Initialize writable before saving");
        return false;
    }
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::Save(294) : invalid pointer... need to initialize...");
        return false;
    }
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(m_spCollection.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Save(312) : failed to QI for ISerialize");
        return false;
    }
    // The collection is serialized before the file is touched: a collection that cannot be
    // saved leaves the file, and any block in it, as it was.
    CSmartPtr<CMemoryStreamImpl> spPayload;
    if (!SerializePayload(spSerialize.Get(), spPayload))
        return false;
    ULONGLONG ullFileLength = 0;
    if (!CheckWritableLayout(L"Save(336)", ullFileLength))
        return false;
    // Without a block, what follows the block position is the table's padding (at most 7
    // bytes, checked above), which the block overwrites: kept to be put back should a write fail.
    BYTE abTail[kMaxCertificatePadding] = {};
    const DWORD dwTail = static_cast<DWORD>(ullFileLength - BlockPosition());
    const bool bHadBlock = GetStreamPos(BlockPosition()) != -1;
    if (!bHadBlock && dwTail != 0 &&
        !(m_spFileStream->SetPosition(BlockPosition()) && m_spFileStream->Read(abTail, dwTail))) {
        TraceError(L"ZIRA::CFileDataExtender::Save(336) : failed to read the %lu bytes behind position %I64u", dwTail,
                   BlockPosition());
        return false;
    }
    // The old block goes without a header update of its own: the one after the write covers
    // both, with one checksum pass over the file instead of two.
    bool bCut = false;
    if (!TruncateBlock(bCut) || !m_spFileStream->SetPosition(BlockPosition()))
        return false;
    if (!WriteBlock(spPayload->GetMemory())) {
        if (bCut) {
            // The old block is gone, and the headers still describe it: leave the file without
            // one, as described.
            if (m_spFileStream->SetSize(BlockPosition()))
                UpdateHeaderWithoutBlock();
        } else {
            // The headers were not touched yet: the file's old length and tail make it whole.
            if (m_spFileStream->SetSize(ullFileLength) && dwTail != 0 &&
                m_spFileStream->SetPosition(BlockPosition()))
                m_spFileStream->Write(abTail, dwTail);
        }
        return false;
    }
    return UpdatePEHeader();
}

bool CFileDataExtender::TruncateBlock(bool& bCut)
{
    bCut = GetStreamPos(BlockPosition()) != -1;
    return !bCut || m_spFileStream->SetSize(BlockPosition());
}

bool CFileDataExtender::UpdateHeaderWithoutBlock()
{
    // The header update forgets the table offset of an unsigned file whose table is now empty;
    // the next block of such a file goes where this one was.
    const DWORD dwOffset = m_dwCertificateTableOffset;
    const bool bUpdated = UpdatePEHeader();
    m_dwCertificateTableOffset = dwOffset;
    return bUpdated;
}

bool CFileDataExtender::SerializePayload(ISerialize* pSerialize, CSmartPtr<CMemoryStreamImpl>& spPayload)
{
    const ULONGLONG ullSize = pSerialize->GetSizeMax();
    // The used size must fit a u32 once raised to a multiple of 16.
    if (ullSize == 0 || ullSize > 0xFFFFFFFFULL - kHeaderSizeV1 - 15) {
        TraceError(L"ZIRA::CFileDataExtender::Save(331) : failed to get size of serialized data");
        return false;
    }
    spPayload.Attach(CreateMemoryStreamImpl());
    if (!spPayload) {
        TraceError(L"ZIRA::CFileDataExtender::Save(369) : CreateMemoryStreamImpl failed");
        return false;
    }
    // The block header records the size counted above: the payload must be exactly that long.
    const CMemory& payload = spPayload->GetMemory();
    if (!pSerialize->Save(static_cast<IByteStream*>(spPayload.Get())) || payload.GetSize() != ullSize ||
        !payload.GetData()) {
        TraceError(L"ZIRA::CFileDataExtender::Save(376) : failed to save kvc to mem stream");
        return false;
    }
    return true;
}

bool CFileDataExtender::WriteBlock(const CMemory& payload)
{
    const DWORD dwUsed = payload.GetSize() + kHeaderSizeV1;
    const DWORD dwTotal = (dwUsed + 15) & ~static_cast<DWORD>(15);
    const DWORD dwHash = HashPayload(payload.GetData(), payload.GetSize());

    if (!WriteU32(dwTotal)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(346) : failed to write size of stream");
        return false;
    }
    if (!WriteU32(kMagicV1)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(353) : failed to write signature");
        return false;
    }
    if (!WriteU32(1)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(360) : failed to write version");
        return false;
    }
    if (!WriteU32(dwHash)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(390) : failed to write hash");
        return false;
    }
    if (!WriteU32(dwUsed)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(397) : failed to real size");
        return false;
    }
    if (!m_spFileStream->Write(payload.GetData(), payload.GetSize())) {
        TraceError(L"ZIRA::CFileDataExtender::Save(404) : failed to save kvc to stream");
        return false;
    }
    static const BYTE kZeros[16] = {};
    const DWORD dwPadding = dwTotal - dwUsed;
    if (!m_spFileStream->Write(kZeros, dwPadding)) {
        TraceError(L"ZIRA::CFileDataExtender::Save(412) : failed to write padding (%lu)", dwPadding);
        return false;
    }
    m_dwVersion = 1;
    m_dwHash = dwHash;
    m_dwUsedSize = dwUsed;
    return true;
}

bool CFileDataExtender::RemoveStreamFromModule()
{
    if (!IsWritable()) {
        TraceError(L"ZIRA::CFileDataExtender::RemoveStreamFromModule(974) : must Initialize writable before removing stream");
        return false;
    }
    if (GetStreamPos(BlockPosition()) == -1)
        return true;
    bool bCut = false;
    ULONGLONG ullFileLength = 0;
    if (!CheckWritableLayout(L"RemoveStreamFromModule(980)", ullFileLength) || !TruncateBlock(bCut))
        return false;
    return UpdateHeaderWithoutBlock();
}

bool CFileDataExtender::UpdatePEHeader()
{
    if (!IsWritable()) {
        TraceError(L"ZIRA::CFileDataExtender::UpdatePEHeader(1080) : must Initialize writable before updating PE header");
        return false;
    }
    // The block's total size; nothing there (the file ends) counts as 0.
    DWORD dwBlockSize = 0;
    if (!ReadU32(BlockPosition(), dwBlockSize))
        dwBlockSize = 0;
    m_dwCertificateTableSize = m_dwSignatureSize + dwBlockSize;
    if (m_dwCertificateTableSize == 0)
        m_dwCertificateTableOffset = 0;
    CFile& file = m_spFileStream->GetFile();
    if (!UpdateSecurityDirectoryEntry(file) || !UpdateChecksum(file, m_strFileName.c_str()))
        return false;
    file.Flush();
    return true;
}

bool CFileDataExtender::Export(const wchar_t* pszFileName)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::Export(424) : invalid pointer... need to initialize...");
        return false;
    }
    CSmartPtr<::CFileStreamImpl> spStream;
    spStream.Attach(::CreateFileStreamImpl());
    if (!spStream) {
        TraceError(L"ZIRA::CFileDataExtender::Export(433) : out of memory");
        return false;
    }
    CFile& file = spStream->GetFile();
    if (!file.Open(pszFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0)) {
        TraceError(L"ZIRA::CFileDataExtender::Export(441) : failed to open: %ls (%lu)", pszFileName ? pszFileName : L"",
                   file.GetLastError());
        return false;
    }
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(m_spCollection.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Export(449) : failed to QI for ISerialize");
        return false;
    }
    if (!spSerialize->Save(static_cast<IByteStream*>(spStream.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Export(455) : failed to save kvc to stream");
        return false;
    }
    file.Flush();
    return true;
}

bool CFileDataExtender::Import(const wchar_t* pszFileName)
{
    if (!EnsureCollection())
        return false;
    CSmartPtr<::CFileStreamImpl> spStream;
    spStream.Attach(::CreateFileStreamImpl());
    if (!spStream) {
        TraceError(L"ZIRA::CFileDataExtender::Import(476) : out of memory");
        return false;
    }
    if (!spStream->GetFile().Open(pszFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0))
        return false;
    CSmartPtr<IKeyValueCollection> spLoaded = NewKeyValueCollection();
    if (!spLoaded) {
        TraceError(L"ZIRA::CFileDataExtender::Import(492) : out of memory");
        return false;
    }
    CSmartPtr<ISerialize> spSerialize;
    if (FAILED(spSerialize.QueryFrom(spLoaded.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Import(500) : failed to QI for ISerialize");
        return false;
    }
    if (!spSerialize->Load(static_cast<IByteStream*>(spStream.Get())))
        return false;
    CSmartPtr<IClone> spClone;
    if (FAILED(spClone.QueryFrom(m_spCollection.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Import(511) : failed to QI for IClone");
        return false;
    }
    return spClone->CopyFrom(spLoaded.Get());
}

bool CFileDataExtender::Import(IKeyValueCollection* pCollection)
{
    if (!EnsureCollection())
        return false;
    CSmartPtr<IClone> spClone;
    if (FAILED(spClone.QueryFrom(m_spCollection.Get()))) {
        TraceError(L"ZIRA::CFileDataExtender::Import(533) : failed to QI for IClone");
        return false;
    }
    return spClone->CopyFrom(pCollection);
}

bool CFileDataExtender::GetCollection(IKeyValueCollection* pCollection)
{
    if (!pCollection) {
        TraceError(L"ZIRA::CFileDataExtender::GetCollection(947) : invalid parameter - must pass a valid kvc");
        return false;
    }
    // Copying from nothing would empty the caller's collection.
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::GetCollection(952) : invalid pointer... need to initialize...");
        return false;
    }
    CSmartPtr<IClone> spClone;
    if (FAILED(spClone.QueryFrom(pCollection))) {
        TraceError(L"ZIRA::CFileDataExtender::GetCollection(956) : failed to QI for IClone");
        return false;
    }
    return spClone->CopyFrom(m_spCollection.Get());
}

bool CFileDataExtender::SetData(DWORD dwKey, bool bValue)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::SetData(692) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->SetBool(dwKey, bValue);
}

bool CFileDataExtender::SetData(DWORD dwKey, DWORD dwValue)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::SetData(703) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->SetDWord(dwKey, dwValue);
}

bool CFileDataExtender::SetData(DWORD dwKey, const wchar_t* pszValue)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::SetData(714) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->SetStringW(dwKey, pszValue);
}

bool CFileDataExtender::SetData(DWORD dwKey, const std::wstring& strValue)
{
    return SetValueString(m_spCollection.Get(), dwKey, strValue);
}

bool CFileDataExtender::GetData(DWORD dwKey, bool& bValue)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::GetData(800) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->GetBool(dwKey, &bValue);
}

bool CFileDataExtender::GetData(DWORD dwKey, DWORD& dwValue)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::GetData(811) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->GetDWord(dwKey, &dwValue);
}

bool CFileDataExtender::GetData(DWORD dwKey, std::wstring& strValue)
{
    return GetValueString(m_spCollection.Get(), dwKey, strValue);
}

bool CFileDataExtender::DataExists(DWORD dwKey)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::DataExists(924) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->Exists(dwKey);
}

bool CFileDataExtender::RemoveData(DWORD dwKey)
{
    if (!m_spCollection) {
        TraceError(L"ZIRA::CFileDataExtender::RemoveData(935) : invalid pointer... need to initialize...");
        return false;
    }
    return m_spCollection->Remove(dwKey);
}

}  // namespace ZIRA
