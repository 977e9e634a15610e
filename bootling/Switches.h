// The switches the bootstrapper reads from its own command line. Names are compared without
// regard to case; the spelling here is the one the program uses when it writes a switch itself.
// Switches not listed mean nothing to the bootstrapper and are left to the install engine.
#pragma once

namespace Switch {

constexpr wchar_t kQuietNoUI[] = L"qn";         // silent mode
constexpr wchar_t kQuiet[] = L"q";              // silent mode
constexpr wchar_t kQuietBasic[] = L"qb";        // reduced-UI mode
constexpr wchar_t kQuietReduced[] = L"qr";      // reduced-UI mode
constexpr wchar_t kPhaseOne[] = L"x";           // first run of a two-phase package
constexpr wchar_t kTrayOnly[] = L"TRAYONLY";
constexpr wchar_t kForceConfig[] = L"FORCECONFIG";
constexpr wchar_t kSilentConfigWizard[] = L"silentcfgwiz";
constexpr wchar_t kService[] = L"svc";
constexpr wchar_t kRunOnceDone[] = L"RODONE";
constexpr wchar_t kRunOnce[] = L"RUNONCE";
constexpr wchar_t kProductId[] = L"PRODID";     // takes a value
constexpr wchar_t kAdmin[] = L"ADMIN";
constexpr wchar_t kPath[] = L"PATH";            // takes a value; for the install engine
constexpr wchar_t kDeleteMode[] = L"DELETEMODE";
constexpr wchar_t kMedia[] = L"MEDIA";          // takes a value
constexpr wchar_t kNoReboot[] = L"NOREBOOT";
constexpr wchar_t kDefaultLanguage[] = L"DEFLANG";  // takes a value
constexpr wchar_t kShowErrors[] = L"SHOWERRORS";    // takes a value
constexpr wchar_t kCopyBaseCache[] = L"COPYBASECACHE";  // takes a value
constexpr wchar_t kLiRelaunch[] = L"LIRELAUNCH";
constexpr wchar_t kTest[] = L"TEST";            // takes a value
constexpr wchar_t kTestMode[] = L"TESTMODE";    // takes a value

}  // namespace Switch
