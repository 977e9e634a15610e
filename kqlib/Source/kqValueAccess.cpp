#include "kqValueAccess.h"
#include <cwchar>
#include <cstring>
#include <new>

bool GetValueString(IValueCollection* pCollection, DWORD dwKey, std::wstring& strValue)
{
    if (!pCollection)
        return false;
    try
    {
        ULONGLONG ullBytes = pCollection->GetSize(dwKey);
        // An 8-bit value becomes up to one UTF-16 unit per byte.
        if (pCollection->GetType(dwKey) == eValueType_StringA)
            ullBytes *= 2;
        if (ullBytes < sizeof(wchar_t) || ullBytes > 0xFFFFFFFF)
            return false;
        std::wstring strRead(static_cast<size_t>(ullBytes / sizeof(wchar_t)), L'\0');
        if (!pCollection->GetStringW(dwKey, &strRead[0], static_cast<DWORD>(strRead.size() * sizeof(wchar_t))))
            return false;
        strRead.resize(wcslen(strRead.c_str()));
        strValue.swap(strRead);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool GetValueStringA(IValueCollection* pCollection, DWORD dwKey, std::string& strValue)
{
    if (!pCollection)
        return false;
    try
    {
        DWORD dwBytes = pCollection->GetSize(dwKey);
        if (pCollection->GetType(dwKey) == eValueType_StringW)
            dwBytes /= 2;
        if (dwBytes == 0)
            return false;
        std::string strRead(dwBytes, '\0');
        if (!pCollection->GetStringA(dwKey, &strRead[0], dwBytes))
        {
            // Multi-byte code pages can need more than one byte per UTF-16 unit.
            DWORD dwNeeded = 0;
            if (!pCollection->GetStringAEx(dwKey, &strRead[0], dwBytes, &dwNeeded) && dwNeeded > dwBytes)
            {
                strRead.assign(dwNeeded, '\0');
                if (!pCollection->GetStringA(dwKey, &strRead[0], dwNeeded))
                    return false;
            }
            else
                return false;
        }
        strRead.resize(strlen(strRead.c_str()));
        strValue.swap(strRead);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool GetValueBinary(IValueCollection* pCollection, DWORD dwKey, CMemory& memory)
{
    if (!pCollection || pCollection->GetType(dwKey) != eValueType_Binary)
        return false;
    DWORD dwSize = pCollection->GetSize(dwKey);
    if (dwSize == 0)
    {
        memory.Free();
        return true;
    }
    void* pData = memory.GetData() && memory.GetKind() != eAllocKind_External ? memory.Resize(dwSize)
                                                                                : memory.Allocate(dwSize);
    return pData && pCollection->GetBinary(dwKey, pData, dwSize);
}

bool SetValueString(IValueCollection* pCollection, DWORD dwKey, const std::wstring& strValue)
{
    return pCollection && pCollection->SetStringW(dwKey, strValue.c_str());
}
