// Owns one load reference of a module and frees it on every path.
#pragma once
#include <windows.h>
#include <utility>

class CModuleHandle
{
public:
    CModuleHandle() = default;
    explicit CModuleHandle(HMODULE hModule) : m_hModule(hModule) {}
    ~CModuleHandle() { Free(); }

    CModuleHandle(const CModuleHandle&) = delete;
    CModuleHandle& operator=(const CModuleHandle&) = delete;
    CModuleHandle(CModuleHandle&& other) noexcept : m_hModule(other.Detach()) {}
    CModuleHandle& operator=(CModuleHandle&& other) noexcept
    {
        if (this != &other)
        {
            Free();
            m_hModule = other.Detach();
        }
        return *this;
    }

    void Free()
    {
        HMODULE hModule = Detach();
        if (hModule)
            FreeLibrary(hModule);
    }
    HMODULE Detach() { return std::exchange(m_hModule, nullptr); }
    HMODULE Get() const { return m_hModule; }
    explicit operator bool() const { return m_hModule != nullptr; }

private:
    HMODULE m_hModule = nullptr;
};
