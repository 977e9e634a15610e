// Splits a process command line into switches and values. The parser knows no switch names:
// callers ask whether a switch is present and which value follows it.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct CommandLineToken
{
    // The token began with one of the switch prefix characters (and no quote).
    bool IsSwitch = false;
    // A switch without its prefix character; a value without its enclosing quotes.
    std::wstring Text;
    // The token exactly as it stood on the line, quotes and prefix included.
    std::wstring Raw;
};

class CCommandLine
{
public:
    CCommandLine() = default;
    virtual ~CCommandLine();

    // The process's own command line (program path included), switches marked by "/" or "-".
    bool Parse();
    // An absent or empty argument fails and leaves the tokens as they were. Otherwise the token
    // list is emptied first; a failure keeps the tokens classified before it.
    bool Parse(const wchar_t* pszCommandLine, const wchar_t* pszPrefixes);

    // Switch names are compared without regard to case.
    bool HasSwitch(const wchar_t* pszName) const;
    bool HasAnySwitch(const wchar_t* const* ppszNames, size_t count) const;
    // The value after each occurrence of the switch. Fails when an occurrence has no value
    // (last token, or followed by a switch); the values gathered before it stay in the list.
    bool GetValues(const wchar_t* pszName, std::vector<std::wstring>& values) const;
    // The first value GetValues would give, or nullptr. Owned by the parser: valid until it
    // is destroyed or parses again.
    const wchar_t* GetValue(const wchar_t* pszName) const;

    const std::vector<CommandLineToken>& GetTokens() const { return m_vecTokens; }

private:
    std::vector<CommandLineToken> m_vecTokens;
};
