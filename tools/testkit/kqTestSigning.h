// Authenticode checks for tests. Signed files come from a ctest fixture made with
// kq_add_signed_copies (cmake/KqTargets.cmake): Wine cannot wait for a Linux program started
// from Windows code, so signing happens on the Linux side before the test starts.
#pragma once
#include <windows.h>
#include <string>

namespace kqtest {

// WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI and no revocation checks:
// 0 when the signature and the image digest are valid, otherwise its error, such as
// TRUST_E_NOSIGNATURE (0x800B0100) for an unsigned file or TRUST_E_BAD_DIGEST for a changed one.
// wintrust.dll is loaded at run time; a failure to load it gives the system error as HRESULT.
LONG VerifyFileSignature(const std::wstring& strPath);

// Folder (with a trailing backslash) that holds the signed copies of the fixture strFixture,
// and cert.pem, the certificate they were signed with.
std::wstring SignedCopiesFolder(const std::wstring& strFixture);

}  // namespace kqtest
