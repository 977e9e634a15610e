// The small language files found in resource folders, and the hexadecimal language texts of
// the registry: decoding and parsing only, no file or registry access. Every parser takes
// hostile input: lengths are bounded by the caller's read, numbers by 16 bits.
#pragma once
#include <windows.h>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

// One line of a Langver.map: the folder that holds a language's resources.
struct CLanguageFolderEntry
{
    WORD wLanguage = 0;
    std::wstring strName;
};

// Reads a hexadecimal number from the start of the text: leading white space is skipped, an
// optional "0x" prefix is allowed, reading stops at the first character that is not a hex
// digit. False when no digit was read or the value does not fit in 16 bits.
bool ReadHexLanguage(const wchar_t* pchText, size_t cchText, WORD& wValue);
bool ReadHexLanguage(const std::wstring& strText, WORD& wValue);

// A language file's bytes as text: UTF-16 when they start with the mark 0xFEFF (an odd last
// byte is dropped), otherwise 8-bit text in the thread's ANSI code page. The text ends at
// the first zero character. False only when memory runs out or the 8-bit text cannot be
// converted.
bool DecodeLanguageFileText(const BYTE* pData, size_t cbData, std::wstring& strText);

// Langver.map lines "<hex language>=<folder name>", separated by line feeds. Lines without
// "=", whose key is not a 16-bit number, or whose name is not a single folder name (a path
// separator, a drive colon, "." or "..") are skipped. The name is trimmed of white space.
// False only when memory runs out.
bool ParseLanguageFolderMap(const std::wstring& strText, std::vector<CLanguageFolderEntry>& entries);

// maplngid.dat: "<hex source> <hex substitute>" pairs separated by ",". A field of 5 or more
// characters stops the reading (pairs read so far stay); a pair whose fields are not numbers
// is skipped; a later pair replaces an earlier one with the same source. False only when
// memory runs out.
bool ParseLanguageSubstitutions(const std::wstring& strText, std::map<WORD, WORD>& substitutions);

// The relative language folder: "pp" without a sublanguage, "pp\ss" with one, pp being the
// primary language in lower-case hex ("%02x" below 256, else "%03x") and ss the sublanguage
// ("%02x"). English (United States), 0x0409, gives "09\01". False for a primary language of 0.
bool GetLanguageSubFolder(WORD wLanguage, std::wstring& strFolder);
