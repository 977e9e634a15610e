// Convenience access to collection values for callers that hold library strings and memory.
// Each fails on a missing collection.
#pragma once
#include <string>
#include "kqMemory.h"
#include "kqValueCollection.h"

// A StringW value (or a StringA one, converted), sized by GetSize.
bool GetValueString(IValueCollection* pCollection, DWORD dwKey, std::wstring& strValue);
// A StringA value (or a StringW one, converted), sized by GetSize.
bool GetValueStringA(IValueCollection* pCollection, DWORD dwKey, std::string& strValue);
// A Binary value; the memory is resized to its size (an empty value leaves it empty).
bool GetValueBinary(IValueCollection* pCollection, DWORD dwKey, CMemory& memory);
bool SetValueString(IValueCollection* pCollection, DWORD dwKey, const std::wstring& strValue);
