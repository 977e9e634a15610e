#include "kqCrc32.h"

#include <array>

namespace {

constexpr DWORD kPolynomial = 0xEDB88320;

constexpr std::array<DWORD, 256> MakeTable()
{
    std::array<DWORD, 256> table = {};
    for (DWORD i = 0; i < 256; ++i) {
        DWORD value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr std::array<DWORD, 256> kTable = MakeTable();

}  // namespace

DWORD Crc32Update(BYTE byte, DWORD dwCrc)
{
    return (dwCrc >> 8) ^ kTable[(dwCrc ^ byte) & 0xFF];
}

DWORD Crc32(const void* pData, size_t cbLength)
{
    DWORD dwCrc = 0xFFFFFFFF;
    const BYTE* pBytes = static_cast<const BYTE*>(pData);
    if (pBytes) {
        for (size_t i = 0; i < cbLength; ++i)
            dwCrc = Crc32Update(pBytes[i], dwCrc);
    }
    return ~dwCrc;
}
