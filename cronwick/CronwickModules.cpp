#include "CronwickModules.h"

#include <atomic>
#include <cwchar>
#include "kqJobMgrInterfaces.h"

namespace {

// The lock object and the kept module manager. Constructed before the entry: the lock object
// is the tool's first call into the library module.
class CModuleMgrHolder
{
public:
    CModuleMgrHolder() { m_bLock = kqLockConstruct(&m_lock) != FALSE; }
    ~CModuleMgrHolder()
    {
        if (IModuleManager* pManager = m_pManager.exchange(nullptr))
            pManager->Release();
        if (m_bLock)
            kqLockDestroy(&m_lock);
    }
    CModuleMgrHolder(const CModuleMgrHolder&) = delete;
    CModuleMgrHolder& operator=(const CModuleMgrHolder&) = delete;

    IModuleManager* Get()
    {
        if (IModuleManager* pManager = m_pManager.load())
            return pManager;
        if (!m_bLock)
            return nullptr;
        KQLOCKGUARD guard = {};
        kqLockGuardAcquire(&guard, &m_lock, INFINITE);
        if (!m_pManager.load())
        {
            IModuleManager* pManager = nullptr;
            if (FAILED(kqCreateModuleManager(&pManager)))
                pManager = nullptr;
            m_pManager.store(pManager);
        }
        kqLockGuardRelease(&guard);
        return m_pManager.load();
    }

private:
    KQLOCK m_lock = {};
    bool m_bLock = false;
    std::atomic<IModuleManager*> m_pManager{nullptr};
};

CModuleMgrHolder g_moduleMgr;

}  // namespace

IModuleManager* GETMODULEMGR()
{
    return g_moduleMgr.Get();
}

HRESULT GetJobManagerPath(wchar_t (&szPath)[kcchModulePath])
{
    if (!kqGetModuleFolder(szPath, sizeof(szPath)))
        return CRONWICK_E_NOMODULEFOLDER;
    szPath[kcchModulePath - 1] = L'\0';
    // The folder comes without a closing backslash.
    size_t cchPath = wcslen(szPath) + 1 + wcslen(kszJobManagerModule);
    if (cchPath >= MAX_PATH)
        return CRONWICK_E_PATHTOOLONG;
    wcscat(szPath, L"\\");
    wcscat(szPath, kszJobManagerModule);
    return S_OK;
}
