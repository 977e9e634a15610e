#include "kqModuleOfAddress.h"
#include <tlhelp32.h>
#include "kqSystemLibrary.h"

namespace {

typedef BOOL(WINAPI* PFNGETMODULEHANDLEEXW)(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);

// Owns a tool-help snapshot handle.
class CSnapshot
{
public:
    explicit CSnapshot(HANDLE hSnapshot) : m_hSnapshot(hSnapshot) {}
    ~CSnapshot()
    {
        if (m_hSnapshot != INVALID_HANDLE_VALUE)
            CloseHandle(m_hSnapshot);
    }
    CSnapshot(const CSnapshot&) = delete;
    CSnapshot& operator=(const CSnapshot&) = delete;
    HANDLE Get() const { return m_hSnapshot; }

private:
    HANDLE m_hSnapshot;
};

}  // namespace

HMODULE FindModuleOfAddressInSnapshot(const void* pAddress)
{
    if (!pAddress)
        return nullptr;
    // A snapshot may fail with ERROR_BAD_LENGTH while modules load; that is worth one retry.
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt)
    {
        CSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId()));
        if (snapshot.Get() == INVALID_HANDLE_VALUE)
        {
            if (GetLastError() == ERROR_BAD_LENGTH)
                continue;
            return nullptr;
        }
        MODULEENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        const BYTE* pbAddress = static_cast<const BYTE*>(pAddress);
        for (BOOL bMore = Module32FirstW(snapshot.Get(), &entry); bMore; bMore = Module32NextW(snapshot.Get(), &entry))
        {
            const BYTE* pbBase = entry.modBaseAddr;
            if (pbAddress >= pbBase && static_cast<SIZE_T>(pbAddress - pbBase) < entry.modBaseSize)
                return entry.hModule;
        }
        return nullptr;
    }
    return nullptr;
}

HMODULE FindModuleOfAddress(const void* pAddress)
{
    if (!pAddress)
        return nullptr;
    CSystemLibrary kernel32(L"kernel32.dll");
    PFNGETMODULEHANDLEEXW pfnGetModuleHandleEx = kernel32.Get<PFNGETMODULEHANDLEEXW>("GetModuleHandleExW");
    if (!pfnGetModuleHandleEx)
        return FindModuleOfAddressInSnapshot(pAddress);
    HMODULE hModule = nullptr;
    if (!pfnGetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(pAddress), &hModule))
        return nullptr;
    return hModule;
}

HMODULE GetLibraryModule()
{
    return FindModuleOfAddress(reinterpret_cast<const void*>(&GetLibraryModule));
}
