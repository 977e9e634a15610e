// The package's settings block, read and written through the installer library's embedded
// data class, the same code the bootstrap program reads its settings with.
#pragma once
#include <windows.h>
#include <string>

#include "kqValueCollection.h"

// Copies the file's settings into the collection; *pbFound, when asked for (it costs another
// read of the file's headers), tells whether the file has a block.
bool ReadEmbeddedSettings(const std::wstring& strPath, IKeyValueCollection* pCollection, bool* pbFound,
                          std::string& strError);
// Replaces the file's settings with exactly the collection's values; the file's signature, if
// any, stays valid because the block lies inside the certificate table.
bool WriteEmbeddedSettings(const std::wstring& strPath, IKeyValueCollection* pCollection, std::string& strError);
