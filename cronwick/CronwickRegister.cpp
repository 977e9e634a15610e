#include "CronwickRegister.h"

#include <exception>
#include <new>
#include "CronwickEvent.h"
#include "CronwickModules.h"
#include "CronwickOptions.h"
#include "kqJobMgrInterfaces.h"
#include "kqSmartPtr.h"

namespace {

// A failed step; thrown only inside the registration and caught by RegisterJob.
struct CStepFailure
{
    HRESULT hr;
};

void CheckResult(HRESULT hr)
{
    if (FAILED(hr))
        throw CStepFailure{hr};
}

void CheckTrue(bool bResult)
{
    if (!bResult)
        throw CStepFailure{E_FAIL};
}

// A schedule option that counts only when its value is exactly 1.
struct OptionBit
{
    const wchar_t* pszName;
    WORD wBit;
};

const OptionBit kDayBits[] = {
    {L"sun", 0x01}, {L"mon", 0x02}, {L"tue", 0x04}, {L"wed", 0x08}, {L"thr", 0x10}, {L"fri", 0x20}, {L"sat", 0x40},
};
const OptionBit kEventBits[] = {
    {L"ServiceShutdown", 0x02}, {L"UserLogon", 0x04},         {L"UserLogoff", 0x08},
    {L"NetworkAvailable", 0x10}, {L"ResumeFromStandby", 0x20}, {L"UserSessionConnect", 0x40},
};
constexpr DWORD kdwUserLogon = 0x04;

template <size_t N>
WORD BuildMask(const OptionBit (&bits)[N])
{
    WORD wMask = 0;
    for (const OptionBit& bit : bits)
        if (GetOptionInt(bit.pszName) == 1)
            wMask |= bit.wBit;
    return wMask;
}

// The steps in order; pszStep names the step under way for the failure message. The objects
// are released by the caller, in the reverse order of their declaration there.
void RunSteps(const char*& pszStep, CSmartPtr<IJobManager>& spManager, CSmartPtr<IJob>& spJob,
              CSmartPtr<ISchedule>& spSchedule, CSmartPtr<IPropertySet>& spProps)
{
    pszStep = "kqJobMgr::kqJobMgr_IJobManagerMgd::CreateObject(GETMODULEMGR(), pManager)";
    CheckResult(CreateJobManagerObject(GETMODULEMGR(), spManager));
    pszStep = "kqJobMgr::kqJobMgr_IJobMgd::CreateObject(GETMODULEMGR(), pJob)";
    CheckResult(CreateJobManagerObject(GETMODULEMGR(), spJob));
    // The module answered with success; an object it did not deliver fails the step all the same.
    if (!spJob || !spManager)
        throw CStepFailure{E_POINTER};

    pszStep = "pJob->SetId(jobGuid)";
    CheckTrue(spJob->SetId(GetOptionGuid(L"guid")));
    spJob->GetSchedule(spSchedule.Receive());
    if (!spSchedule)
    {
        pszStep = "pJob->GetSchedule(&pSchedule)";
        throw CStepFailure{E_POINTER};
    }
    pszStep = "pSchedule->ResetSchedule()";
    CheckResult(spSchedule->ResetSchedule());
    spSchedule->GetProperties(spProps.Receive());
    if (!spProps)
    {
        pszStep = "pSchedule->GetProperties(&pProps)";
        throw CStepFailure{E_POINTER};
    }

    pszStep = "pJob->SetName( name )";
    CheckTrue(spJob->SetName(GetOptionString(L"name").c_str()));
    pszStep = "pJob->SetClassId(classGuid)";
    spJob->SetClassId(GUID());
    pszStep = "pJob->SetWorker((REFQELOBJECT_ID)workerGuid, pWorkerPath )";
    CheckTrue(spJob->SetWorker(kWorkerId, kszWorkerPath));
    pszStep = "pJob->SetEnabled(true)";
    CheckTrue(spJob->SetEnabled(true));

    DWORD dwContext = GetOptionInt(L"active") != 0 ? 1 : 0;
    pszStep = "pProps->SetValue( ISchedule::eProp_ExecutionContext, (DWORD)dwContext)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_ExecutionContext), dwContext));
    DWORD dwPriority = 0;
    pszStep = "pProps->SetValue(ISchedule::eProp_Priority, dwPriority)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_Priority), dwPriority));
    pszStep = "pProps->SetValue(ISchedule::eProp_PreventStandby, false)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_PreventStandby), false));
    pszStep = "pProps->SetValue(ISchedule::eProp_SupportsPause, false)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_SupportsPause), false));
    pszStep = "pProps->SetValue(ISchedule::eProp_SupportsUnload, false)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_SupportsUnload), false));
    pszStep = "pProps->SetValue(ISchedule::eProp_LongRunning, true)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_LongRunning), true));
    pszStep = "pJob->SetPatchingDisabled(false)";
    CheckTrue(spJob->SetPatchingDisabled(false));
    // The low three bits are always set; the option's other bits, sign included, stay.
    DWORD dwThresh = static_cast<DWORD>(GetOptionInt(L"threshold")) | 7;
    pszStep = "pProps->SetValue(ISchedule::eProp_Thresholds, dwThresh)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_Thresholds), dwThresh));
    DWORD dwVersion = 1;
    pszStep = "pProps->SetValue(ISchedule::eProp_DataVersion, dwVersion)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_DataVersion), dwVersion));

    spSchedule->SetOptions(1, 1, 1, 6);
    spSchedule->SetRandomization(0, static_cast<DWORD>(GetOptionInt(L"randomize")), 0);
    spJob->SetEnabled(true);

    WORD wDays = BuildMask(kDayBits);
    WORD wHour = static_cast<WORD>(GetOptionInt(L"hour") & 0xffff);
    WORD wMinute = static_cast<WORD>(GetOptionInt(L"minute") & 0xffff);
    WORD interval = static_cast<WORD>(GetOptionInt(L"interval") & 0xffff);
    int iType = GetOptionInt(L"scheduleType");

    pszStep = "pProps->SetValue(ISchedule::eSched_ScheduleType, (byte) iType)";
    spProps->SetValue(static_cast<DWORD>(ISchedule::eSched_ScheduleType), static_cast<BYTE>(iType & 0xff));
    switch (iType)
    {
    case 1:
        pszStep = "pSchedule->ScheduleInterval( eInterval_Minute, interval, false )";
        CheckResult(spSchedule->ScheduleInterval(ISchedule::eInterval_Minute, interval, false));
        break;
    case 2:
        pszStep = "pSchedule->ScheduleWeekly( wDays, wHour, wMinute )";
        CheckResult(spSchedule->ScheduleWeekly(wDays, wHour, wMinute));
        break;
    case 3:
        pszStep = "pSchedule->ScheduleMultiWeek((WORD)(wDays&0xffff), wHour, wMinute, (WORD)(interval&0xff))";
        CheckResult(spSchedule->ScheduleMultiWeek(static_cast<WORD>(wDays & 0xffff), wHour, wMinute,
                                                  static_cast<WORD>(interval & 0xff)));
        break;
    case 5:
    {
        DWORD sysEvent = BuildMask(kEventBits);
        if (sysEvent == 0)
            sysEvent = kdwUserLogon;
        pszStep = "pSchedule->ScheduleSystemEvent( sysEvent, interval )";
        CheckResult(spSchedule->ScheduleSystemEvent(sysEvent, interval));
        break;
    }
    default:
        // Type 4 and unknown types: the type alone, no schedule call.
        break;
    }

    if (GetOptionInt(L"disable") != 0)
        spJob->SetEnabled(false);
    bool bOnce = GetOptionInt(L"runOnce") > 0;
    pszStep = "pProps->SetValue(ISchedule::eProp_RunOnce, bOnce)";
    CheckTrue(spProps->SetValue(static_cast<DWORD>(ISchedule::eProp_RunOnce), bOnce));

    spJob->Save();
    spJob->Save();
    Sleep(50);
    pszStep = "pJob->Save()";
    CheckResult(spJob->Save());
}

}  // namespace

HRESULT RegisterJob()
{
    const char* pszStep = "";
    HRESULT hr = S_OK;
    {
        // Released when the block ends, on every path: properties, schedule, job, manager.
        CSmartPtr<IJobManager> spManager;
        CSmartPtr<IJob> spJob;
        CSmartPtr<ISchedule> spSchedule;
        CSmartPtr<IPropertySet> spProps;
        try
        {
            RunSteps(pszStep, spManager, spJob, spSchedule, spProps);
        }
        catch (const CStepFailure& failure)
        {
            hr = failure.hr;
        }
        catch (const std::bad_alloc&)
        {
            hr = E_OUTOFMEMORY;
        }
        catch (const std::exception&)
        {
            hr = E_FAIL;
        }
    }
    if (FAILED(hr))
        ReportEventError(L"Error 0x%08X: %hs", static_cast<unsigned>(hr), pszStep);
    return hr;
}
