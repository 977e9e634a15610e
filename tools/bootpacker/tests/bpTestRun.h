// Runs bootpack.exe of this build with arguments and collects its exit code and output.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace bptest {

struct RunResult
{
    bool bStarted = false;
    DWORD dwExitCode = 0xFFFFFFFF;
    std::string strOut;
    std::string strErr;
};

// Each argument is quoted as needed.
RunResult RunBootpack(const std::vector<std::wstring>& args);
// "bootpack inspect PACKAGE --json", expected to succeed; a discarded document when its output
// is not JSON.
nlohmann::ordered_json InspectJson(const std::wstring& strPackage);
// bin\bootpack_data\NAME
std::wstring DataFile(const std::wstring& strName);
std::wstring BootpackExe();

}  // namespace bptest
