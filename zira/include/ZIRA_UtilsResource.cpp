// Kept apart from the other helpers: only a program that loads its resource module needs the
// language locator linked in.
#include "kqResourceLocator.h"
#include "ZIRA_Utils.h"

namespace ZIRA {

HMODULE CUtils::LoadResourceModule(const wchar_t* pszFolder)
{
    return LoadResourceModule(pszFolder, &::LocateResourceModule);
}

}  // namespace ZIRA
