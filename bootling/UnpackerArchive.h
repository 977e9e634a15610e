// Holds the one reference a C7zArchive is created with and releases it on every path.
#pragma once
#include "7zArchive.h"

class CUnpackerArchive
{
public:
    CUnpackerArchive() = default;
    ~CUnpackerArchive()
    {
        if (m_pArchive)
            m_pArchive->Release();
    }
    CUnpackerArchive(const CUnpackerArchive&) = delete;
    CUnpackerArchive& operator=(const CUnpackerArchive&) = delete;

    HRESULT Initialize() { return m_pArchive ? E_UNEXPECTED : C7zArchive::Initialize(&m_pArchive); }
    C7zArchive* operator->() const { return m_pArchive; }

private:
    C7zArchive* m_pArchive = nullptr;
};
