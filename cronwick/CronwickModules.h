// How the tool reaches the job manager: the process-wide module manager of the library module
// and the creation of job manager objects from "kqJobMgr.dll" in the library's module folder.
#pragma once
#include <windows.h>
#include "kqL90U.h"
#include "kqSmartPtr.h"

// The library's module folder could not be found.
constexpr HRESULT CRONWICK_E_NOMODULEFOLDER = static_cast<HRESULT>(0x80010300UL);
// The job manager's path does not fit in MAX_PATH.
constexpr HRESULT CRONWICK_E_PATHTOOLONG = static_cast<HRESULT>(0x80010303UL);
// There is no module manager.
constexpr HRESULT CRONWICK_E_NOMODULEMGR = static_cast<HRESULT>(0x80010203UL);

// The process-wide module manager, created on first use and released at process exit;
// borrowed (callers do not release it). nullptr when it could not be created.
IModuleManager* GETMODULEMGR();

// The library module's folder holds the job manager: 261 characters, as the module asks.
constexpr size_t kcchModulePath = MAX_PATH + 1;
// The full path of "kqJobMgr.dll" in the library's module folder.
HRESULT GetJobManagerPath(wchar_t (&szPath)[kcchModulePath]);

// Creates an object of the job manager module by its class id (also its interface id) into
// spObject, releasing what it held before.
template <class T>
HRESULT CreateJobManagerObject(IModuleManager* pModuleMgr, CSmartPtr<T>& spObject)
{
    wchar_t szPath[kcchModulePath];
    HRESULT hr = GetJobManagerPath(szPath);
    if (FAILED(hr))
        return hr;
    if (!pModuleMgr)
        return CRONWICK_E_NOMODULEMGR;
    // The number 3 asks the module manager to keep the module loaded.
    return pModuleMgr->CreateObject(szPath, T::kIid, T::kIid, 3, spObject.ReceiveVoid());
}
