// What a module that offers library classes exports, and the factory it hands out.
//   "GetFactory"(class id, out IFactory)  -> result code
//   "GetObjectCount"()                    -> live objects of the module; 0 means it may be unloaded
//   "GetDebugOutput" or "GetDebugOutput2"() -> the module's own trace object, optional
// The exports are extern "C" functions with the default calling convention.
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

class CDebugOutput;

// Creates the objects of one class of a module.
struct IFactory : public IObjectBase
{
    // {2E7955A3-433A-4A7E-8AAE-2CBE7EF7CB05}
    static constexpr GUID kIid = {0x2e7955a3, 0x433a, 0x4a7e, {0x8a, 0xae, 0x2c, 0xbe, 0x7e, 0xf7, 0xcb, 0x05}};

    // A new object answered under riid, with one reference, in *ppObject.
    virtual HRESULT CreateInstance(const GUID& riid, void** ppObject) = 0;
};

typedef HRESULT (*PFNGETFACTORY)(const GUID& clsid, IFactory** ppFactory);
typedef LONG (*PFNGETOBJECTCOUNT)();
typedef CDebugOutput* (*PFNGETDEBUGOUTPUT)();

constexpr char kszGetFactoryExport[] = "GetFactory";
constexpr char kszGetObjectCountExport[] = "GetObjectCount";
constexpr char kszGetDebugOutputExport[] = "GetDebugOutput";
constexpr char kszGetDebugOutput2Export[] = "GetDebugOutput2";
