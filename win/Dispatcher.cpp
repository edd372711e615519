#include "win/Dispatcher.h"

HRESULT CDispatcher::GetDispId(IDispatch* object, const wchar_t* name, DISPID* id) {
    if (!object) return E_POINTER;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, id);
}

HRESULT CDispatcher::GetProperty(IDispatch* object, const wchar_t* name, VARIANT* result) {
    if (!object) return E_POINTER;
    DISPID id = 0;
    HRESULT hr = GetDispId(object, name, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result,
                          nullptr, nullptr);
}

HRESULT CDispatcher::PutProperty(IDispatch* object, const wchar_t* name, const VARIANT* value) {
    if (!object || !value) return E_POINTER;
    DISPID id = 0;
    HRESULT hr = GetDispId(object, name, &id);
    if (FAILED(hr)) return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {const_cast<VARIANT*>(value), &named, 1, 1};
    const VARTYPE vt = value->vt;
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN || (vt & VT_ARRAY) || (vt & VT_BYREF)) {
        hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYPUTREF, &params,
                            nullptr, nullptr, nullptr);
        if (SUCCEEDED(hr)) return hr;
    }
    return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

HRESULT CDispatcher::CallMethod(IDispatch* object, const wchar_t* name, VARIANT* result, UINT argCount,
                                VARIANT* reversedArgs) {
    if (!object) return E_POINTER;
    DISPID id = 0;
    HRESULT hr = GetDispId(object, name, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = {reversedArgs, nullptr, argCount, 0};
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
    // Some members answer only as properties ("Item" of a few collections): ask again as a
    // property when the method call itself was refused, never after a method that ran and
    // failed, or a failing Save, Send or Delete would run twice.
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT) {
        hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                            result, nullptr, nullptr);
    }
    return hr;
}
