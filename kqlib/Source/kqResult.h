// Result codes of the library's object model. They are HRESULT-like: a negative value is a
// failure; positive values other than 0 are successes with a meaning and are compared exactly.
#pragma once
#include <windows.h>

constexpr HRESULT KQ_OK = static_cast<HRESULT>(0x00010000L);
constexpr HRESULT KQERR_NOINTERFACE = static_cast<HRESULT>(0x80010200UL);
constexpr HRESULT KQERR_OUTOFMEMORY = static_cast<HRESULT>(0x80010201UL);
constexpr HRESULT KQERR_NOTFOUND = static_cast<HRESULT>(0x80010202UL);
constexpr HRESULT KQERR_INVALIDARG = static_cast<HRESULT>(0x80010203UL);
constexpr HRESULT KQERR_LOADFAILED = static_cast<HRESULT>(0x80010300UL);
constexpr HRESULT KQERR_NOEXPORTS = static_cast<HRESULT>(0x80010302UL);
constexpr HRESULT KQERR_FAIL = static_cast<HRESULT>(0x8001FFFFUL);
