// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320).
#pragma once
#include <windows.h>
#include <cstddef>

// The whole checksum: initial value 0xFFFFFFFF, final complement. Crc32 of "abc" is 0x352441C2.
DWORD Crc32(const void* pData, size_t cbLength);

// One table step for running checksums, without initial value or complement:
// start with 0xFFFFFFFF, feed every byte, complement the result.
DWORD Crc32Update(BYTE byte, DWORD dwCrc);
