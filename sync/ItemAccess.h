#pragma once
// Small late-bound helpers for the item adapter: a failing call raises its HRESULT (caught at the
// end of the adapter operation), or, for the Try forms, answers false.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "service/TimeLogic.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Errors.h"

namespace hvitem {

// A property that must be an object.
inline hv::com_ptr<IDispatch> Object(IDispatch* object, const wchar_t* name) {
    THROW_HR_IF(E_POINTER, !object);
    hv::unique_variant v;
    THROW_IF_FAILED(CDispatcher::GetProperty(object, name, v.put()));
    IDispatch* p = v.AsDispatch();
    THROW_HR_IF(E_FAIL, !p);
    return hv::com_ptr<IDispatch>(p);
}

// A method whose result must be an object; arguments in reverse order.
inline hv::com_ptr<IDispatch> CallObject(IDispatch* object, const wchar_t* name, UINT argCount, VARIANT* reversedArgs) {
    THROW_HR_IF(E_POINTER, !object);
    hv::unique_variant v;
    THROW_IF_FAILED(CDispatcher::CallMethod(object, name, v.put(), argCount, reversedArgs));
    IDispatch* p = v.AsDispatch();
    THROW_HR_IF(E_FAIL, !p);
    return hv::com_ptr<IDispatch>(p);
}

inline void Put(IDispatch* object, const wchar_t* name, const VARIANT& value) {
    THROW_HR_IF(E_POINTER, !object);
    THROW_IF_FAILED(CDispatcher::PutProperty(object, name, &value));
}

// A readable, non-empty property value.
inline bool TryGet(IDispatch* object, const wchar_t* name, hv::unique_variant& value) {
    if (!object) return false;
    if (FAILED(CDispatcher::GetProperty(object, name, value.put()))) return false;
    return !value.IsEmpty();
}

inline bool TryText(IDispatch* object, const wchar_t* name, std::string& text) {
    hv::unique_variant v;
    if (!TryGet(object, name, v)) return false;
    try {
        text = v.AsString();
        return true;
    } catch (...) {
        return false;
    }
}

inline bool TryLong(IDispatch* object, const wchar_t* name, long& number) {
    hv::unique_variant v;
    if (!TryGet(object, name, v)) return false;
    try {
        number = v.AsLong();
        return true;
    } catch (...) {
        return false;
    }
}

inline bool TryBool(IDispatch* object, const wchar_t* name, bool& flag) {
    hv::unique_variant v;
    if (!TryGet(object, name, v)) return false;
    try {
        flag = v.AsBool();
        return true;
    } catch (...) {
        return false;
    }
}

inline bool TryDate(IDispatch* object, const wchar_t* name, COleDate& date) {
    hv::unique_variant v;
    if (!TryGet(object, name, v)) return false;
    try {
        date = COleDate(v.AsDate());
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace hvitem
