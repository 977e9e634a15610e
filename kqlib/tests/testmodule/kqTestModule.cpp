// A module that offers library classes through the export protocol, built in several variants.
#include "kqTestModule.h"
#include <new>
#include "kqClassFactory.h"
#include "kqDebugOutput.h"
#include "kqModuleExports.h"
#include "kqObjectRoot.h"

namespace {

class CTestObject : public CObjectRoot, public ITestObject
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == ITestObject::kIid)
            return AnswerInterface(static_cast<ITestObject*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }
    DWORD GetValue() override { return kTestObjectValue; }
};

CDebugOutput g_debugOutput(KQ_TEST_MODULE_NAME);

}  // namespace

extern "C" __declspec(dllexport) IObjectBase* CreateTestObject()
{
    return static_cast<ITestObject*>(new (std::nothrow) CTestObject);
}

#ifndef KQ_TEST_NO_FACTORY
extern "C" __declspec(dllexport) HRESULT GetFactory(const GUID& clsid, IFactory** ppFactory)
{
    if (!ppFactory)
        return KQERR_INVALIDARG;
    *ppFactory = nullptr;
    if (clsid == kTestObjectClassId)
        return CreateClassFactory(&CreateTestObject, ppFactory);
    if (clsid == kNoFactoryClassId)
        return KQ_OK;
    if (clsid == kRefusedClassId)
        return KQERR_NOTFOUND;
    return KQERR_INVALIDARG;
}
#endif

#ifndef KQ_TEST_NO_OBJECT_COUNT
extern "C" __declspec(dllexport) LONG GetObjectCount()
{
    return GetModuleObjectCount();
}
#endif

extern "C" __declspec(dllexport) CDebugOutput* GetDebugOutput()
{
    return &g_debugOutput;
}

extern "C" __declspec(dllexport) CDebugOutput* GetDebugOutput2()
{
    return &g_debugOutput;
}
