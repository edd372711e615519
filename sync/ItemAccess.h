#pragma once
// The one late-bound path to Outlook's items, below the item adapter, the fingerprint, the link
// and the planner: a failing call raises its HRESULT (caught at the end of the adapter
// operation), or, for the Try forms, answers false or null. User properties are here too.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "service/TimeLogic.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Errors.h"

enum : long {
    OL_CLASS_APPOINTMENT = 26,
    OL_CLASS_TASK = 48,
    OL_USER_PROP_TEXT = 1,
};

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

// A method whose result is an object; null when the call fails or answers no object.
hv::com_ptr<IDispatch> TryCallObject(IDispatch* object, const wchar_t* name, UINT argCount, VARIANT* reversedArgs);
// "Restrict" or "Find" of an Items collection with one filter text; null when it fails or
// finds nothing.
hv::com_ptr<IDispatch> TryFilter(IDispatch* items, const wchar_t* method, const std::string& filter);
// A collection's "Count" (0 when it cannot be read) and its item at a 1-based index (or null).
long Count(IDispatch* collection);
hv::com_ptr<IDispatch> TryItemAt(IDispatch* collection, long index);

// One user property of an Outlook item by name: S_OK with its value as text, S_FALSE when the
// item has no such property, or the failing call's code.
HRESULT GetUserProperty(IDispatch* item, const wchar_t* name, std::string& value);
// The item's "UserProperties" collection (null when it cannot be read), and one property of it:
// for reading several properties of one item with one call for the collection.
hv::com_ptr<IDispatch> UserProperties(IDispatch* item);
HRESULT GetUserPropertyOf(IDispatch* userProperties, const wchar_t* name, std::string& value);
// Sets a user property, creating it as a text property when missing (added to the folder's
// fields first, and once more without when that is refused).
HRESULT SetUserProperty(IDispatch* item, const wchar_t* name, const VARIANT& value);
// The same on the item's "UserProperties" collection, for writing several properties of one item.
HRESULT SetUserPropertyOf(IDispatch* userProperties, const wchar_t* name, const VARIANT& value);
// Adds a property the collection is known not to hold yet, and sets it.
HRESULT AddUserPropertyTo(IDispatch* userProperties, const wchar_t* name, const VARIANT& value);

}  // namespace hvitem
