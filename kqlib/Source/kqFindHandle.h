// Owns one directory search and ends it when destroyed, also when the loop over its entries
// is left early or by an exception.
#pragma once
#include <windows.h>

#include <string>

class CFindHandle
{
public:
    // Starts the search; on success data holds the first entry.
    CFindHandle(const std::wstring& strPattern, WIN32_FIND_DATAW& data)
        : m_hFind(FindFirstFileW(strPattern.c_str(), &data))
    {
    }
    ~CFindHandle()
    {
        if (m_hFind != INVALID_HANDLE_VALUE)
            FindClose(m_hFind);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;

    bool IsValid() const { return m_hFind != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW& data) { return FindNextFileW(m_hFind, &data) != FALSE; }

private:
    HANDLE m_hFind;
};
