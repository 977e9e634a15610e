#include "bpEmbeddedSettings.h"

#include "bpPackageLayout.h"
#include "bpText.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSmartPtr.h"

#include "ZIRA_FileDataExtender.h"

bool ReadEmbeddedSettings(const std::wstring& strPath, IKeyValueCollection* pCollection, bool* pbFound,
                          std::string& strError)
{
    if (pbFound)
        *pbFound = false;
    ZIRA::CFileDataExtender extender;
    if (!extender.Initialize(strPath.c_str(), false)) {
        strError = ToUtf8(strPath) + ": the settings block cannot be read";
        return false;
    }
    if (!pCollection->RemoveAll() || !extender.GetCollection(pCollection)) {
        strError = ToUtf8(strPath) + ": the settings cannot be copied";
        return false;
    }
    // A second look at the file, for the callers that must tell an empty block from none.
    if (pbFound)
        *pbFound = HasSettingsBlock(strPath);
    return true;
}

bool WriteEmbeddedSettings(const std::wstring& strPath, IKeyValueCollection* pCollection, std::string& strError)
{
    const std::string strSource = ToUtf8(strPath);
    ZIRA::CFileDataExtender extender;
    if (!extender.Initialize(strPath.c_str(), true)) {
        strError = strSource + ": cannot open the file for writing its settings";
        return false;
    }
    // Replace, not merge: keys the file has that the collection lacks go first.
    CSmartPtr<IKeyValueCollection> spOldCollection = NewKeyValueCollection();
    if (!spOldCollection || !extender.GetCollection(spOldCollection.Get())) {
        strError = strSource + ": the present settings cannot be read";
        return false;
    }
    const DWORD dwCount = spOldCollection->GetCount();
    for (DWORD i = 0; i < dwCount; ++i) {
        DWORD dwKey = 0;
        if (!spOldCollection->GetKeyByIndex(i, &dwKey) || (!pCollection->Exists(dwKey) && !extender.RemoveData(dwKey))) {
            strError = strSource + ": the present settings cannot be replaced";
            return false;
        }
    }
    if (!extender.Import(pCollection)) {
        strError = strSource + ": the settings cannot be copied";
        return false;
    }
    if (!extender.Save()) {
        strError = strSource + ": the settings block cannot be written";
        return false;
    }
    return true;
}
