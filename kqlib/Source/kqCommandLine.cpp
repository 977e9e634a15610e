#include "kqCommandLine.h"

#include <windows.h>

#include <cwchar>
#include <new>

namespace {

const wchar_t kQuote = L'"';
const wchar_t kSeparator = L' ';

wchar_t UpperChar(wchar_t c)
{
    // CharUpperW treats a pointer value below 0x10000 as one character to convert.
    return static_cast<wchar_t>(
        LOWORD(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c))))));
}

bool EqualNoCase(const std::wstring& str, const wchar_t* psz)
{
    size_t i = 0;
    for (; i < str.size(); ++i) {
        if (psz[i] == L'\0' || UpperChar(str[i]) != UpperChar(psz[i]))
            return false;
    }
    return psz[i] == L'\0';
}

// First pass: the raw tokens. Only the space separates. A token that opens a quote without
// closing it (or a lone quote) takes everything up to the next quote on the line, spaces and
// all; with no such quote the line cannot be split.
bool SplitLine(const std::wstring& strLine, std::vector<std::wstring>& vecRaw)
{
    const size_t cch = strLine.size();
    size_t pos = 0;
    for (;;) {
        while (pos < cch && strLine[pos] == kSeparator)
            ++pos;
        if (pos >= cch)
            return true;
        size_t end = strLine.find(kSeparator, pos);
        if (end == std::wstring::npos)
            end = cch;
        const size_t cchToken = end - pos;
        const bool bOpensQuote =
            strLine[pos] == kQuote && (cchToken == 1 || strLine[end - 1] != kQuote);
        if (!bOpensQuote) {
            vecRaw.push_back(strLine.substr(pos, cchToken));
            pos = end;
            continue;
        }
        size_t close = end < cch ? strLine.find(kQuote, end) : std::wstring::npos;
        if (close == std::wstring::npos)
            return false;
        vecRaw.push_back(strLine.substr(pos, close + 1 - pos));
        pos = close + 1;
    }
}

std::wstring StripQuotes(const std::wstring& strRaw)
{
    size_t first = strRaw.find_first_not_of(kQuote);
    if (first == std::wstring::npos)
        return std::wstring();
    size_t last = strRaw.find_last_not_of(kQuote);
    return strRaw.substr(first, last - first + 1);
}

}  // namespace

CCommandLine::~CCommandLine() = default;

bool CCommandLine::Parse()
{
    return Parse(GetCommandLineW(), L"/-");
}

bool CCommandLine::Parse(const wchar_t* pszCommandLine, const wchar_t* pszPrefixes)
{
    if (!pszCommandLine || !*pszCommandLine || !pszPrefixes || !*pszPrefixes)
        return false;
    try {
        m_vecTokens.clear();
        std::vector<std::wstring> vecRaw;
        if (!SplitLine(pszCommandLine, vecRaw))
            return false;
        for (std::wstring& strRaw : vecRaw) {
            CommandLineToken token;
            if (strRaw[0] == kQuote) {
                // A quoted token is a value even when a prefix character follows the quote.
                token.Text = StripQuotes(strRaw);
            } else if (wcschr(pszPrefixes, strRaw[0])) {
                // A prefix character alone names no switch.
                if (strRaw.size() == 1)
                    return false;
                token.IsSwitch = true;
                token.Text = strRaw.substr(1);
            } else {
                token.Text = strRaw;
            }
            token.Raw = std::move(strRaw);
            m_vecTokens.push_back(std::move(token));
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool CCommandLine::HasSwitch(const wchar_t* pszName) const
{
    if (!pszName || !*pszName)
        return false;
    for (const CommandLineToken& token : m_vecTokens) {
        if (token.IsSwitch && EqualNoCase(token.Text, pszName))
            return true;
    }
    return false;
}

bool CCommandLine::HasAnySwitch(const wchar_t* const* ppszNames, size_t count) const
{
    if (!ppszNames)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (HasSwitch(ppszNames[i]))
            return true;
    }
    return false;
}

namespace {

// Calls onValue with the value token after each occurrence of the switch, in order; false as
// soon as an occurrence has no value (it is the last token or another switch follows it).
template <class TOnValue>
bool WalkValues(const std::vector<CommandLineToken>& tokens, const wchar_t* pszName, TOnValue onValue)
{
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!tokens[i].IsSwitch || !EqualNoCase(tokens[i].Text, pszName))
            continue;
        if (i + 1 >= tokens.size() || tokens[i + 1].IsSwitch)
            return false;
        ++i;
        onValue(tokens[i]);
    }
    return true;
}

}  // namespace

bool CCommandLine::GetValues(const wchar_t* pszName, std::vector<std::wstring>& values) const
{
    try {
        values.clear();
        if (!pszName || !*pszName)
            return false;
        return WalkValues(m_vecTokens, pszName, [&values](const CommandLineToken& token) { values.push_back(token.Text); });
    } catch (...) {
        return false;
    }
}

const wchar_t* CCommandLine::GetValue(const wchar_t* pszName) const
{
    if (!pszName || !*pszName)
        return nullptr;
    // Without copying: any occurrence without a value fails it, as it fails GetValues.
    const wchar_t* pszFirst = nullptr;
    if (!WalkValues(m_vecTokens, pszName, [&pszFirst](const CommandLineToken& token) {
            if (!pszFirst)
                pszFirst = token.Text.c_str();
        }))
        return nullptr;
    return pszFirst;
}
