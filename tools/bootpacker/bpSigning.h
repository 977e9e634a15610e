// Runs the release engineer's signing command on a package. The command is started as a
// Windows process (CreateProcess; signtool on Windows) after "{in}" and "{out}" are replaced by
// the quoted paths of the unsigned file and of the signed file to make. A command without
// "{out}" signs "{in}" in place.
#pragma once
#include <string>

// The file that holds the signed package afterwards: strOut when the command names {out},
// otherwise strIn. False when the command cannot start, fails or leaves no file.
bool RunSigningCommand(const std::wstring& strTemplate, const std::wstring& strIn, const std::wstring& strOut,
                       std::wstring& strSigned, std::string& strError);
// The command line with the placeholders replaced.
std::wstring ExpandSigningCommand(const std::wstring& strTemplate, const std::wstring& strIn,
                                  const std::wstring& strOut);
// WinVerifyTrust's answer for the file (0: valid signature).
long CheckSignature(const std::wstring& strPath);
