// Walks a package's table with the installer library's package reader, the code the bootstrap
// program extracts with: extract writes every entry to a folder, and the build's read-back
// compares every entry with the archive it was made from.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "bpPackageWriter.h"

// Writes every entry, byte for byte, as FOLDER\name; names that are not plain file names are
// refused before anything is written. The written paths in writtenPaths.
bool ExtractWithPackageReader(const std::wstring& strPackage, const std::wstring& strFolder,
                              std::vector<std::wstring>& writtenPaths, std::string& strError);
// The entries must be exactly the inputs: names, types, sizes and bytes, in order.
bool CompareWithPackageReader(const std::wstring& strPackage, const std::vector<PackageInput>& inputs,
                              std::string& strError);
// A plain file name: no folder parts, no reserved characters or device names, nothing that
// Windows would trim (a trailing dot or blank).
bool IsPlainFileName(const std::wstring& strName);
