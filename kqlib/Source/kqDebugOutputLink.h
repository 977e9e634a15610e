// Links a loaded module's trace object to the host's, so the module's lines land in the
// host's log. Owns neither object.
#pragma once

class CDebugOutput;

class CDebugOutputLink
{
public:
    CDebugOutputLink(CDebugOutput* pModuleOutput, CDebugOutput* pHostOutput);
    virtual ~CDebugOutputLink();

    CDebugOutputLink(const CDebugOutputLink&) = delete;
    CDebugOutputLink& operator=(const CDebugOutputLink&) = delete;

private:
    CDebugOutput* m_pModuleOutput;
    CDebugOutput* m_pHostOutput;
};
