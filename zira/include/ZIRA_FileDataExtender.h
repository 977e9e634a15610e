// Keeps a key-value collection inside an executable without breaking its Authenticode
// signature. The serialized collection is wrapped in a block ("bpAP") that lies inside the span
// the security directory describes, right after the first certificate; a file without a
// signature gets the block appended at its end, as its whole certificate table.
//
// Block, version 1 (little-endian; offsets from the block start):
//     0 total size (used size raised to a multiple of 16)   4 "bpAP"   8 version (1)
//    12 hash of the payload   16 used size (20 + payload)   20 payload, then 0 to 15 zero bytes
// Version 0 (read only): total size at 0, magic 70 41 70 62 at 4, payload from 8.
//
// Use: Initialize (read-only to read the settings, writable to change them); Get/SetData; Save.
// One thread at a time.
#pragma once
#include <windows.h>

#include <string>

#include "ZIRA_PEFileHelper.h"
#include "kqFileStream.h"
#include "kqMemory.h"
#include "kqMemoryStream.h"
#include "kqSerialize.h"
#include "kqSmartPtr.h"
#include "kqValueCollection.h"

namespace ZIRA {

class CFileDataExtender : public CPEFileHelper
{
public:
    CFileDataExtender() = default;
    ~CFileDataExtender() override = default;
    CFileDataExtender(const CFileDataExtender&) = delete;
    CFileDataExtender& operator=(const CFileDataExtender&) = delete;

    // Opens the executable (read sharing only) and loads the block, if any, into the collection.
    // A file without a block leaves the collection as it was. Read-only: the file is closed once
    // a block was loaded. Writable: the file stays open for Save until the extender goes.
    // A failure leaves no file open: Save, RemoveStreamFromModule and UpdatePEHeader then refuse.
    bool Initialize(const wchar_t* pszFileName, bool bWritable);
    // Writes the collection as a version 1 block in place of any block present and updates the
    // security directory entry and the header checksum.
    bool Save();
    // The serialized collection alone (no block header) into a new file, and back.
    bool Export(const wchar_t* pszFileName);
    bool Import(const wchar_t* pszFileName);
    // Copies the given collection's contents into this one.
    bool Import(IKeyValueCollection* pCollection);

    // The collection's own results. Integer arguments must be DWORDs (an int would be ambiguous).
    bool SetData(DWORD dwKey, bool bValue);
    bool SetData(DWORD dwKey, DWORD dwValue);
    bool SetData(DWORD dwKey, const wchar_t* pszValue);
    bool SetData(DWORD dwKey, const std::wstring& strValue);
    bool GetData(DWORD dwKey, bool& bValue);
    bool GetData(DWORD dwKey, DWORD& dwValue);
    bool GetData(DWORD dwKey, std::wstring& strValue);
    bool DataExists(DWORD dwKey);
    bool RemoveData(DWORD dwKey);
    // Copies this collection's contents into the given one.
    bool GetCollection(IKeyValueCollection* pCollection);

    // Cuts the block off the file and updates the directory entry and the checksum; a signed
    // file gets back its signature span as it was signed. Needs a writable Initialize.
    bool RemoveStreamFromModule();
    // ullPosition when a block starts there (its version, hash and used size are recorded),
    // otherwise -1; 0 when no file is open.
    LONGLONG GetStreamPos(ULONGLONG ullPosition);
    // Rewrites the security directory entry (first certificate plus block) and the checksum.
    bool UpdatePEHeader();

    // The hash stored in a block: CRC-32 of the payload, then two more table steps with the
    // bytes 0x42 and 0x50.
    static DWORD HashPayload(const void* pData, DWORD dwSize);

    bool IsSigned() const { return m_bSigned; }
    DWORD GetSignatureSize() const { return m_dwSignatureSize; }
    DWORD GetVersion() const { return m_dwVersion; }
    DWORD GetHash() const { return m_dwHash; }
    DWORD GetUsedSize() const { return m_dwUsedSize; }

private:
    bool EnsureCollection();
    // Initialize's work on a freshly closed extender.
    bool OpenAndLoad(const wchar_t* pszFileName, bool bWritable);
    bool IsOpen() const;
    bool IsWritable() const;
    bool ReadU32(ULONGLONG ullPosition, DWORD& dwValue);
    bool WriteU32(DWORD dwValue);
    // Block position: the certificate table offset plus the first certificate's length.
    ULONGLONG BlockPosition() const;
    bool CheckBlockBounds(ULONGLONG ullPosition, DWORD dwHeaderSize, ULONGLONG& ullPayloadSize);
    // Before a write: the block position lies behind the image and what follows it is either
    // a block that ends the file or at most the padding of the certificate table, so that a
    // write there can neither cut into the image nor replace data of someone else's. Logs its
    // refusal with pszWhere (the calling method and line). ullFileLength: the file's length.
    bool CheckWritableLayout(const wchar_t* pszWhere, ULONGLONG& ullFileLength);
    bool LoadPayload(ULONGLONG ullPosition, ULONGLONG ullSize);
    // The collection's saved form in memory, exactly as long as it announced.
    bool SerializePayload(ISerialize* pSerialize, CSmartPtr<CMemoryStreamImpl>& spPayload);
    // Header, payload and padding of a version 1 block at the stream's position.
    bool WriteBlock(const CMemory& payload);
    // Cuts the file where a block starts at the block position, if one does (bCut), and leaves
    // the headers alone. The caller has checked the layout.
    bool TruncateBlock(bool& bCut);
    // UpdatePEHeader after the block was cut off, keeping the block position of an unsigned file.
    bool UpdateHeaderWithoutBlock();

    CSmartPtr<IKeyValueCollection> m_spCollection;
    std::wstring m_strFileName;
    CSmartPtr<::CFileStreamImpl> m_spFileStream;
    bool m_bSigned = false;
    DWORD m_dwSignatureSize = 0;
    DWORD m_dwVersion = 1;
    DWORD m_dwHash = 0;
    DWORD m_dwUsedSize = 0;
};

}  // namespace ZIRA
