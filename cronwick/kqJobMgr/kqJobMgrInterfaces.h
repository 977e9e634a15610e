// The job manager module's interfaces ("kqJobMgr.dll"): the job manager, jobs, their schedules
// and a schedule's property set. Objects are created through the module's "GetFactory" export
// (by a module manager) under the class ids below; each class id is also its interface id.
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

// The module's file name, found in the shared client library's module folder.
constexpr wchar_t kszJobManagerModule[] = L"kqJobMgr.dll";

// {94BA88EB-B1EC-4031-A960-79F67771AB68}
constexpr GUID kqJobMgr_IJobManagerMgd = {0x94ba88eb, 0xb1ec, 0x4031, {0xa9, 0x60, 0x79, 0xf6, 0x77, 0x71, 0xab, 0x68}};
// {587B391C-FE8A-40F7-8A41-564642473593}
constexpr GUID kqJobMgr_IJobMgd = {0x587b391c, 0xfe8a, 0x40f7, {0x8a, 0x41, 0x56, 0x46, 0x42, 0x47, 0x35, 0x93}};

// Typed values of a schedule, keyed by a numeric property id. Each setter has its own ids.
struct IPropertySet : public IObjectBase
{
    // {2C1B6E3A-5D8F-4B07-9E21-7A4C3D5E6F10}
    static constexpr GUID kIid = {0x2c1b6e3a, 0x5d8f, 0x4b07, {0x9e, 0x21, 0x7a, 0x4c, 0x3d, 0x5e, 0x6f, 0x10}};

    virtual bool SetValue(DWORD dwId, DWORD dwValue) = 0;
    // The result carries no meaning for callers.
    virtual bool SetValue(DWORD dwId, BYTE bValue) = 0;
    virtual bool SetValue(DWORD dwId, bool bValue) = 0;
};

// When a job runs.
struct ISchedule : public IObjectBase
{
    // {2C1B6E3A-5D8F-4B07-9E21-7A4C3D5E6F11}
    static constexpr GUID kIid = {0x2c1b6e3a, 0x5d8f, 0x4b07, {0x9e, 0x21, 0x7a, 0x4c, 0x3d, 0x5e, 0x6f, 0x11}};

    enum ScheduleProperty
    {
        eSched_ScheduleType = 0,  // byte setter
    };
    enum JobProperty
    {
        eProp_RunOnce = 0,           // bool
        eProp_Priority = 1,          // 32-bit
        eProp_Thresholds = 3,        // 32-bit
        eProp_ExecutionContext = 4,  // 32-bit
        eProp_PreventStandby = 5,    // bool
        eProp_SupportsPause = 6,     // bool
        eProp_SupportsUnload = 7,    // bool
        eProp_DataVersion = 8,       // 32-bit
        eProp_LongRunning = 9,       // bool
    };
    enum IntervalUnit
    {
        eInterval_Minute = 0,
    };

    // The schedule's property set with one reference, in *ppProperties.
    virtual HRESULT GetProperties(IPropertySet** ppProperties) = 0;
    virtual HRESULT ScheduleInterval(DWORD dwUnit, DWORD dwInterval, bool bFlag) = 0;
    virtual HRESULT ScheduleWeekly(WORD wDays, WORD wHour, WORD wMinute) = 0;
    virtual HRESULT ScheduleMultiWeek(WORD wDays, WORD wHour, WORD wMinute, WORD wWeeks) = 0;
    virtual HRESULT ScheduleSystemEvent(DWORD dwEvents, DWORD dwInterval) = 0;
    virtual HRESULT SetOptions(DWORD dwOption1, DWORD dwOption2, DWORD dwOption3, DWORD dwOption4) = 0;
    virtual HRESULT SetRandomization(DWORD dwRandom1, DWORD dwRandom2, DWORD dwRandom3) = 0;
    // Forgets the schedule call and its arguments; properties stay.
    virtual HRESULT ResetSchedule() = 0;
};

// One job; Save stores it machine-wide under its id (kqJobStore.h).
struct IJob : public IObjectBase
{
    static constexpr GUID kIid = kqJobMgr_IJobMgd;

    // The job's schedule with one reference, in *ppSchedule.
    virtual HRESULT GetSchedule(ISchedule** ppSchedule) = 0;
    virtual bool SetId(const GUID& id) = 0;
    virtual bool SetClassId(const GUID& classId) = 0;
    virtual bool SetWorker(const GUID& workerId, const wchar_t* pszWorkerPath) = 0;
    virtual bool SetName(const wchar_t* pszName) = 0;
    virtual bool SetEnabled(bool bEnabled) = 0;
    virtual HRESULT Save() = 0;
    virtual bool SetPatchingDisabled(bool bDisabled) = 0;
};

// The job manager. Jobs are created by class id of their own; the manager object only marks
// that a client works with the store.
struct IJobManager : public IObjectBase
{
    static constexpr GUID kIid = kqJobMgr_IJobManagerMgd;

    // Number of jobs in the store (for diagnostics).
    virtual DWORD GetJobCount() = 0;
};
