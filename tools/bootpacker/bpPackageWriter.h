// Writes a package file: the stub's image, the stub's own certificate (or a zero length word
// when the stub is unsigned), the package table (version 2) with its pointer archive, and the
// archives back to back, padded to a multiple of 8 bytes so that a signature can follow. The
// copied stub's security directory entry is cleared and the checksum recomputed, so the
// result is an unsigned image that a signing tool signs as a whole.
#pragma once
#include <windows.h>
#include <set>
#include <string>
#include <vector>

#include "bpPackageLayout.h"

struct PackageInput
{
    std::wstring strPath;
    DWORD dwType = 0;
};

struct StubInfo
{
    PeFacts pe;
    DWORD dwCertificateLength = 0;  // 0 for an unsigned stub
};

// The stub must be a PE file whose certificate table, if any, starts exactly at its end of
// image and ends the file; an unsigned stub must end at its end of image (no symbol table or
// other data behind its last section).
bool CheckStub(const std::wstring& strPath, StubInfo& info, std::string& strError);
// Every input must exist and be readable; names (the file names) must differ.
bool CheckInputs(const std::vector<PackageInput>& inputs, std::string& strError);
// The entry name of an input: its file name.
std::wstring EntryName(const std::wstring& strPath);
// Entries become files of one folder, whose names Windows compares without case. Adds the name
// (upper-cased) to names; false when it is empty or a name there already differs only in case.
bool AddDistinctEntryName(std::set<std::wstring>& names, const std::wstring& strName);
// The size WritePackageFile gives the package, padding included, from the stub and the sizes
// of the archives (as much as a ULONGLONG holds when they add up to more).
ULONGLONG PackageFileSize(const StubInfo& stub, DWORD dwPointerArchiveLength, const std::vector<ULONGLONG>& sizes);
// Writes the unsigned package to strOutput (replacing it); a package that would reach 4 GB is
// refused before the output is created.
bool WritePackageFile(const std::wstring& strStub, const StubInfo& stub, const std::vector<PackageInput>& inputs,
                      const std::wstring& strOutput, std::string& strError);
// Compares a written package with what it was made from: the stub's image and certificate,
// the table's names, types and sizes, and every entry byte for byte (read once, through the
// library's package reader).
bool VerifyPackageContents(const std::wstring& strPackage, const std::wstring& strStub, const StubInfo& stub,
                           const std::vector<PackageInput>& inputs, std::string& strError);
