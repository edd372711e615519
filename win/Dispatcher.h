#pragma once
// Late-bound access to Outlook, Office and Word objects: properties and methods by member
// name through IDispatch. Every call returns the HRESULT of its last step.
#include <windows.h>
#include <oaidl.h>

class CDispatcher {
public:
    // DISPATCH_METHOD | DISPATCH_PROPERTYGET, no arguments.
    static HRESULT GetProperty(IDispatch* object, const wchar_t* name, VARIANT* result);
    // PROPERTYPUTREF first for objects, arrays and references, then PROPERTYPUT.
    static HRESULT PutProperty(IDispatch* object, const wchar_t* name, const VARIANT* value);
    // DISPATCH_METHOD, then once more with DISPATCH_METHOD | DISPATCH_PROPERTYGET on failure.
    // Arguments in reverse order, as IDispatch::Invoke takes them; result may be null.
    static HRESULT CallMethod(IDispatch* object, const wchar_t* name, VARIANT* result, UINT argCount,
                              VARIANT* reversedArgs);
    static HRESULT GetDispId(IDispatch* object, const wchar_t* name, DISPID* id);
};
