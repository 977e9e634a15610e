#include "kqDebugOutputLink.h"

#include "kqDebugOutput.h"

CDebugOutputLink::CDebugOutputLink(CDebugOutput* pModuleOutput, CDebugOutput* pHostOutput)
    : m_pModuleOutput(pModuleOutput), m_pHostOutput(pHostOutput)
{
    if (m_pModuleOutput && m_pHostOutput)
        m_pModuleOutput->SetParent(m_pHostOutput);
}

CDebugOutputLink::~CDebugOutputLink()
{
    if (m_pModuleOutput && m_pHostOutput)
        m_pModuleOutput->SetParent(nullptr);
}
