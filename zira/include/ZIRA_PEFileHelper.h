// Reads the headers of a PE32 or PE32+ file and records where its checksum, its security
// directory entry, its certificate table (the Authenticode signature) and the raw data of its
// last section lie. Writes a new security directory entry and a new header checksum back.
//
// Order of use: ReadHeaders; change the certificate-table fields; UpdateSecurityDirectoryEntry;
// UpdateChecksum. The caller owns the file and closes it.
#pragma once
#include <windows.h>

#include "kqFile.h"

namespace ZIRA {

class CPEFileHelper
{
public:
    CPEFileHelper() = default;
    virtual ~CPEFileHelper() = default;

    // Reads the headers once; later calls return true without touching any file.
    // bIgnoreCertificateBounds skips the test that the certificate table's offset and size
    // each lie within the file (for a copy cut out of a larger file).
    bool ReadHeaders(CFile& file, bool bIgnoreCertificateBounds);
    // Writes m_dwCertificateTableOffset and m_dwCertificateTableSize into the security
    // directory entry and flushes the file. The file must be open for writing.
    bool UpdateSecurityDirectoryEntry(CFile& file);
    // Recomputes the checksum of the file named pszFileName (the same file as 'file', flushed)
    // and writes it into the optional header through 'file'. Does not flush.
    bool UpdateChecksum(CFile& file, const wchar_t* pszFileName);

    // Set by a successful ReadHeaders; never cleared.
    bool m_bHeadersRead = false;
    // File offset and size of OptionalHeader.CheckSum.
    DWORD m_dwChecksumOffset = 0;
    DWORD m_dwChecksumSize = 0;
    // File offset and size of the security data directory entry.
    DWORD m_dwSecurityEntryOffset = 0;
    DWORD m_dwSecurityEntrySize = 0;
    // The security entry's values: a file offset (not an RVA) and a length; 0 when unsigned.
    // Callers replace them before UpdateSecurityDirectoryEntry.
    DWORD m_dwCertificateTableOffset = 0;
    DWORD m_dwCertificateTableSize = 0;
    // PointerToRawData + SizeOfRawData of the last section header.
    DWORD m_dwEndOfImage = 0;
};

}  // namespace ZIRA
