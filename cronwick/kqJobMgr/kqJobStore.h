// Where the job manager keeps saved jobs, machine-wide:
//   HKEY_LOCAL_MACHINE\SOFTWARE\Ostrel\kqJobMgr\Jobs\{job id}
// in the machine's own registry view (also from a 32-bit process on 64-bit Windows), one subkey
// per job, named by the job id in its braced upper-case text form, holding one value per
// setting the job's client made (REG_SZ for texts and ids, REG_DWORD for numbers and flags).
// Saving a job replaces its subkey as a whole.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

constexpr wchar_t kszJobStoreKey[] = L"SOFTWARE\\Ostrel\\kqJobMgr\\Jobs";

struct JobValue
{
    DWORD dwType = REG_DWORD;  // REG_DWORD or REG_SZ
    DWORD dwValue = 0;
    std::wstring strValue;
};

typedef std::map<std::wstring, JobValue> JobValues;

struct StoredJob
{
    std::wstring strId;  // the subkey's name
    JobValues values;
};

// Replaces the job's subkey with exactly these values. A Windows error as an HRESULT.
HRESULT SaveJobRecord(const GUID& id, const JobValues& values);
// One stored job by its subkey name; false when it is absent or cannot be read.
bool ReadStoredJob(const std::wstring& strId, StoredJob& job);
// Every stored job, in the order of their ids. An absent store is an empty one (S_OK).
HRESULT ReadJobStore(std::vector<StoredJob>& jobs);
// Removes one job's subkey, then the store keys above it that are left empty.
void RemoveStoredJob(const std::wstring& strId);
// A value as the listing shows it: decimal and hex for numbers, the text for strings.
std::wstring FormatJobValue(const JobValue& value);
