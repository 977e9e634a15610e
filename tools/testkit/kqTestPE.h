// Reading the fields of a PE file that signing and checksums touch, for tests: read here
// through the platform's own structure definitions, never through the product's PE code.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace kqtest {

// Little-endian 32-bit values in a byte buffer; GetU32 gives 0 past the end. PutU32 writes
// nothing past the end: it records a test failure and gives false.
DWORD GetU32(const std::vector<BYTE>& bytes, size_t offset);
bool PutU32(std::vector<BYTE>& bytes, size_t offset, DWORD dwValue);

struct PEFacts
{
    // The headers lie inside the buffer and carry a known optional-header magic.
    bool bValid = false;
    WORD wMagic = 0;
    // Where the header checksum and the security directory entry lie in the file.
    size_t checksumOffset = 0;
    size_t securityEntryOffset = 0;
    // The security directory entry: the certificate table's file offset and size.
    DWORD dwCertificateOffset = 0;
    DWORD dwCertificateSize = 0;
    DWORD dwChecksum = 0;
    // The end of the last section's raw data.
    DWORD dwEndOfImage = 0;
};

PEFacts ReadPEFacts(const std::vector<BYTE>& bytes);
PEFacts ReadPEFacts(const std::string& bytes);

// The checksum the platform's image helper computes for the file; a failed computation is a
// test failure.
DWORD ImageHelpChecksum(const std::wstring& strPath);

}  // namespace kqtest
