// What the test modules offer: one class with a small interface, and class ids that make
// their "GetFactory" fail in the ways a host must handle.
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

struct ITestObject : public IObjectBase
{
    // {6B0F3C2E-7A41-4D55-9C1B-2A4E5D6F7081}
    static constexpr GUID kIid = {0x6b0f3c2e, 0x7a41, 0x4d55, {0x9c, 0x1b, 0x2a, 0x4e, 0x5d, 0x6f, 0x70, 0x81}};
    // The module's fixed answer, so a test sees which module made the object.
    virtual DWORD GetValue() = 0;
};

// The class a test module creates.
constexpr GUID kTestObjectClassId = {0x6b0f3c2e, 0x7a41, 0x4d55, {0x9c, 0x1b, 0x2a, 0x4e, 0x5d, 0x6f, 0x70, 0x82}};
// "GetFactory" refuses this one with KQERR_NOTFOUND.
constexpr GUID kRefusedClassId = {0x6b0f3c2e, 0x7a41, 0x4d55, {0x9c, 0x1b, 0x2a, 0x4e, 0x5d, 0x6f, 0x70, 0x83}};
// "GetFactory" claims success for this one but hands out no factory.
constexpr GUID kNoFactoryClassId = {0x6b0f3c2e, 0x7a41, 0x4d55, {0x9c, 0x1b, 0x2a, 0x4e, 0x5d, 0x6f, 0x70, 0x84}};

constexpr DWORD kTestObjectValue = 0x5EED;

// Exports of kqtestmodule.dll (kqtestpinned.dll is the same module under another name):
//   GetFactory, GetObjectCount, GetDebugOutput, GetDebugOutput2, CreateTestObject
// kqtestnocount.dll lacks GetObjectCount; kqtestnofactory.dll lacks GetFactory.
constexpr char kszCreateTestObjectExport[] = "CreateTestObject";
