// The names of the package settings (the embedded key-value collection) that release engineers
// write in settings files, and the names of the collection's value types. A setting the table
// does not name is written by its key number with an explicit type.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

struct SettingName
{
    DWORD dwKey;
    const char* pszName;
    BYTE bType;       // ValueType
    bool bRequired;   // a package without it does not start
};

// Every named setting, in ascending key order.
const SettingName* GetSettingNames(size_t* pcNames);
// nullptr when the name or key is not in the table. Names compare exactly.
const SettingName* FindSettingByName(const std::string& strName);
const SettingName* FindSettingByKey(DWORD dwKey);

// "bool", "dword", "string", ... for ValueType 0 to 17; nullptr for anything else.
const char* GetValueTypeName(BYTE bType);
// The type for a name (case-insensitive); false when no type has that name.
bool ParseValueTypeName(const std::string& strName, BYTE* pbType);
// All type names separated by ", ", for messages.
std::string ListValueTypeNames();

// A key written in decimal ("20001"); false for anything else or a value beyond 32 bits.
bool ParseKeyNumber(const std::string& strText, DWORD* pdwKey);
