// Package settings as JSON: a settings file is one object whose members name settings either by
// the names of bpSettingNames.h, with the plain JSON value of the setting's type
// ("VersionMajor": 6), or by key number with an explicit type
// ("1234": {"type": "dword", "value": 5}); a named setting may use the explicit form too, with
// its own type. The same form is written by export and inspect --json, so a file round-trips.
//
// Values by type: bool as true/false; char, byte, short, word, long, dword, int64, uint64 as
// integers in their range; double as a number; string and stringa as text; guid as
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; binary and block16 as hex digits (block16 exactly
// 16 bytes); variant as {"vt": "i4", "value": 5} for the simple VARIANT kinds; object as a
// nested settings object (a key-value collection inside the collection). Empty values are
// shown as null and cannot be written.
//
// Every message names the source (a file or the command line) and the setting.
#pragma once
#include <windows.h>
#include <string>

#include <nlohmann/json.hpp>

#include "kqValueCollection.h"

using Json = nlohmann::ordered_json;

// "\"VersionMajor\" (key 1)" for a named key, "key 1234" for another.
std::string DescribeKey(DWORD dwKey);

// Sets the value under dwKey with type bType from its JSON form.
bool SetValueFromJson(IKeyValueCollection* pCollection, DWORD dwKey, BYTE bType, const Json& value,
                      const std::string& strSource, std::string& strError);
// The JSON form of the value stored under dwKey (of its stored type).
bool GetValueAsJson(IKeyValueCollection* pCollection, DWORD dwKey, Json& value, std::string& strError);

// Adds every member of a settings object to the collection. A setting given twice (by name and
// number) is an error.
bool LoadSettingsJson(const Json& document, const std::string& strSource, IKeyValueCollection* pCollection,
                      std::string& strError);
// The settings object for a collection, keys ascending: named keys of their table type by name
// with the plain value, every other key by number in the explicit form.
bool SaveSettingsJson(IKeyValueCollection* pCollection, Json& document, std::string& strError);

// Keys 0, 9 and 18 must be present with their table type.
bool CheckRequiredSettings(IKeyValueCollection* pCollection, const std::string& strSource, std::string& strError);

// Reads and parses a UTF-8 JSON file (an optional byte-order mark is skipped).
bool ReadJsonFile(const std::wstring& strPath, Json& document, std::string& strError);
bool ParseJsonText(const std::string& strText, const std::string& strSource, Json& document, std::string& strError);
// Writes the document indented, UTF-8, with a final newline.
bool WriteJsonFile(const std::wstring& strPath, const Json& document, std::string& strError);

// The JSON form of a value typed on a command line: text for string types, decimal or 0x hex
// for integers, true/false/1/0 for bool, JSON text for variant and object.
bool ValueFromCommandLine(BYTE bType, const std::string& strText, Json& value, std::string& strError);
// A setting named on a command line or in a file: a name of the table or a key number.
bool ResolveSettingKey(const std::string& strText, DWORD* pdwKey, std::string& strError);
