// The commands of the package tool. Each takes the arguments after its name, prints its result
// on the standard output and its errors on the standard error, and returns the exit code:
// 0 done, 1 failed, 2 wrong arguments.
#pragma once
#include <string>
#include <vector>

typedef std::vector<std::wstring> Arguments;

int RunBootpack(const Arguments& args);

int CommandBuild(const Arguments& args);
int CommandInspect(const Arguments& args);
int CommandSettings(const Arguments& args);
int CommandExtract(const Arguments& args);

// The usage text.
std::string UsageText();
