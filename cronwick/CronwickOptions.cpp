#include "CronwickOptions.h"

#include <cstdlib>
#include <new>
#include <objbase.h>

COptionMap OptionMap;

namespace {

// The parser lives in the library module; its storage is ours.
class CModuleCommandLine
{
public:
    CModuleCommandLine() : m_pCommandLine(kqCommandLineConstruct(&m_storage, sizeof(m_storage))) {}
    ~CModuleCommandLine()
    {
        if (m_pCommandLine)
            kqCommandLineDestroy(m_pCommandLine);
    }
    CModuleCommandLine(const CModuleCommandLine&) = delete;
    CModuleCommandLine& operator=(const CModuleCommandLine&) = delete;

    CCommandLine* Get() const { return m_pCommandLine; }

private:
    alignas(CCommandLine) unsigned char m_storage[sizeof(CCommandLine)];
    CCommandLine* m_pCommandLine;
};

}  // namespace

void BuildOptionMap(const wchar_t* pszCommandLine)
{
    CommandLineTokens tokens;
    try
    {
        CModuleCommandLine commandLine;
        if (commandLine.Get())
        {
            // A failed parse keeps the tokens classified before the failure: they are used.
            kqCommandLineParse(commandLine.Get(), pszCommandLine, L"/-");
            if (const CommandLineTokens* pTokens = kqCommandLineGetTokens(commandLine.Get()))
                tokens = *pTokens;
        }
    }
    catch (const std::bad_alloc&)
    {
        tokens.clear();
    }
    FillOptionMap(tokens);
}

void FillOptionMap(const CommandLineTokens& tokens)
{
    OptionMap.clear();
    try
    {
        const std::wstring* pSwitch = nullptr;
        for (size_t i = 1; i < tokens.size(); ++i)
        {
            const CommandLineToken& token = tokens[i];
            if (token.IsSwitch)
                pSwitch = &token.Text;
            else if (pSwitch)
                OptionMap.emplace(*pSwitch, token.Raw);
        }
    }
    catch (const std::bad_alloc&)
    {
        // What was inserted stays; missing options take their defaults.
    }
}

std::wstring GetOptionString(const wchar_t* pszName)
{
    try
    {
        auto it = OptionMap.find(pszName);
        return it == OptionMap.end() ? std::wstring() : it->second;
    }
    catch (const std::bad_alloc&)
    {
        return std::wstring();
    }
}

int GetOptionInt(const wchar_t* pszName)
{
    try
    {
        auto it = OptionMap.find(pszName);
        return it == OptionMap.end() ? 0 : _wtoi(it->second.c_str());
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

GUID GetOptionGuid(const wchar_t* pszName)
{
    GUID guid = {};
    try
    {
        auto it = OptionMap.find(pszName);
        if (it == OptionMap.end())
            return guid;
        // Only the braced form is accepted: the CLSID parser would also look other text up as
        // a program id in the registry.
        const std::wstring& strValue = it->second;
        if (strValue.size() != 38 || strValue.front() != L'{' || strValue.back() != L'}')
            return guid;
        if (FAILED(CLSIDFromString(strValue.c_str(), &guid)))
            guid = GUID();
    }
    catch (const std::bad_alloc&)
    {
        guid = GUID();
    }
    return guid;
}
