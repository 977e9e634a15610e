#include "bpText.h"

#include <cstdio>
#include <cstring>

#include "kqGuidString.h"

namespace {

bool ConvertFromUtf8(const std::string& strText, std::wstring& strWide, DWORD dwFlags)
{
    strWide.clear();
    if (strText.empty())
        return true;
    if (strText.size() > 0x7FFFFFFF)
        return false;
    const int cchText = static_cast<int>(strText.size());
    const int cchWide = MultiByteToWideChar(CP_UTF8, dwFlags, strText.data(), cchText, nullptr, 0);
    if (cchWide <= 0)
        return false;
    try {
        strWide.resize(static_cast<size_t>(cchWide));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return MultiByteToWideChar(CP_UTF8, dwFlags, strText.data(), cchText, &strWide[0], cchWide) == cchWide;
}

bool ConvertToUtf8(const std::wstring& strText, std::string& strUtf8, DWORD dwFlags)
{
    strUtf8.clear();
    if (strText.empty())
        return true;
    if (strText.size() > 0x7FFFFFFF)
        return false;
    const int cchText = static_cast<int>(strText.size());
    const int cb = WideCharToMultiByte(CP_UTF8, dwFlags, strText.data(), cchText, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return false;
    try {
        strUtf8.resize(static_cast<size_t>(cb));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return WideCharToMultiByte(CP_UTF8, dwFlags, strText.data(), cchText, &strUtf8[0], cb, nullptr, nullptr) == cb;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// Reads exactly cDigits hex digits at strText[pos].
bool ReadHexNumber(const std::string& strText, size_t pos, size_t cDigits, unsigned long long* pullValue)
{
    if (pos + cDigits > strText.size())
        return false;
    unsigned long long ullValue = 0;
    for (size_t i = 0; i < cDigits; ++i) {
        const int digit = HexDigit(strText[pos + i]);
        if (digit < 0)
            return false;
        ullValue = (ullValue << 4) | static_cast<unsigned>(digit);
    }
    *pullValue = ullValue;
    return true;
}

void WriteHandle(DWORD dwWhich, const std::string& strText)
{
    HANDLE hOut = GetStdHandle(dwWhich);
    if (hOut == nullptr || hOut == INVALID_HANDLE_VALUE || strText.empty())
        return;
    DWORD dwMode = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        // A real console shows UTF-16 correctly whatever its code page.
        std::wstring strWide;
        if (ConvertFromUtf8(strText, strWide, 0)) {
            DWORD dwWritten = 0;
            WriteConsoleW(hOut, strWide.data(), static_cast<DWORD>(strWide.size()), &dwWritten, nullptr);
            return;
        }
    }
    size_t pos = 0;
    while (pos < strText.size()) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(strText.size() - pos, 65536));
        DWORD dwWritten = 0;
        if (!WriteFile(hOut, strText.data() + pos, dwChunk, &dwWritten, nullptr) || dwWritten == 0)
            return;
        pos += dwWritten;
    }
}

}  // namespace

bool Utf8ToWide(const std::string& strText, std::wstring& strWide)
{
    return ConvertFromUtf8(strText, strWide, MB_ERR_INVALID_CHARS);
}

bool WideToUtf8(const std::wstring& strText, std::string& strUtf8)
{
    return ConvertToUtf8(strText, strUtf8, WC_ERR_INVALID_CHARS);
}

std::string ToUtf8(const std::wstring& strText)
{
    std::string strUtf8;
    if (!ConvertToUtf8(strText, strUtf8, 0))
        strUtf8 = "?";
    return strUtf8;
}

std::string FormatHex(const BYTE* pData, size_t cbData)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string strHex;
    strHex.reserve(cbData * 2);
    for (size_t i = 0; i < cbData; ++i) {
        strHex += kDigits[pData[i] >> 4];
        strHex += kDigits[pData[i] & 0x0F];
    }
    return strHex;
}

bool ParseHex(const std::string& strText, std::vector<BYTE>& bytes)
{
    bytes.clear();
    if (strText.size() % 2 != 0)
        return false;
    bytes.reserve(strText.size() / 2);
    for (size_t i = 0; i < strText.size(); i += 2) {
        const int hi = HexDigit(strText[i]);
        const int lo = HexDigit(strText[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<BYTE>((hi << 4) | lo));
    }
    return true;
}

bool ParseGuid(const std::string& strText, GUID* pGuid)
{
    if (strText.size() != 38 || strText[0] != '{' || strText[37] != '}' || strText[9] != '-' ||
        strText[14] != '-' || strText[19] != '-' || strText[24] != '-')
        return false;
    unsigned long long ullPart = 0;
    GUID guid = {};
    if (!ReadHexNumber(strText, 1, 8, &ullPart))
        return false;
    guid.Data1 = static_cast<DWORD>(ullPart);
    if (!ReadHexNumber(strText, 10, 4, &ullPart))
        return false;
    guid.Data2 = static_cast<WORD>(ullPart);
    if (!ReadHexNumber(strText, 15, 4, &ullPart))
        return false;
    guid.Data3 = static_cast<WORD>(ullPart);
    const size_t kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!ReadHexNumber(strText, kBytePositions[i], 2, &ullPart))
            return false;
        guid.Data4[i] = static_cast<BYTE>(ullPart);
    }
    *pGuid = guid;
    return true;
}

std::string FormatGuidUtf8(const GUID& guid)
{
    return ToUtf8(FormatGuid(guid));
}

void WriteOut(const std::string& strText)
{
    WriteHandle(STD_OUTPUT_HANDLE, strText);
}

void WriteErr(const std::string& strText)
{
    WriteHandle(STD_ERROR_HANDLE, strText);
}
