// A schedule's property set: each typed setter writes a named value of the job record.
#pragma once
#include <memory>
#include "kqJobMgrInterfaces.h"
#include "kqJobRecord.h"
#include "kqObjectRoot.h"

class CJobPropertySet : public CObjectRoot, public IPropertySet
{
public:
    explicit CJobPropertySet(std::shared_ptr<CJobRecord> spRecord) : m_spRecord(std::move(spRecord)) {}

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    bool SetValue(DWORD dwId, DWORD dwValue) override;
    bool SetValue(DWORD dwId, BYTE bValue) override;
    bool SetValue(DWORD dwId, bool bValue) override;

private:
    std::shared_ptr<CJobRecord> m_spRecord;
};
