// Owns one kernel handle and closes it when replaced or destroyed.
#pragma once
#include <windows.h>

class CScopedHandle
{
public:
    CScopedHandle() = default;
    explicit CScopedHandle(HANDLE hHandle) : m_hHandle(hHandle) {}
    ~CScopedHandle() { Close(); }

    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    // Neither null nor INVALID_HANDLE_VALUE.
    bool IsHandle() const { return m_hHandle != nullptr && m_hHandle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_hHandle; }
    void Attach(HANDLE hHandle)
    {
        Close();
        m_hHandle = hHandle;
    }
    // For a call that hands out a new handle: the old one is closed first.
    HANDLE* Receive()
    {
        Close();
        return &m_hHandle;
    }
    // Gives the handle up without closing it.
    HANDLE Detach()
    {
        HANDLE hHandle = m_hHandle;
        m_hHandle = nullptr;
        return hHandle;
    }
    void Close()
    {
        if (IsHandle())
            CloseHandle(m_hHandle);
        m_hHandle = nullptr;
    }

private:
    HANDLE m_hHandle = nullptr;
};
