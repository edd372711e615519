// The one late-bound path to Outlook's items: see ItemAccess.h.
#include "sync/ItemAccess.h"

namespace hvitem {

namespace {

HRESULT GetUserProperties(IDispatch* item, hv::unique_variant& props) {
    if (!item) return E_POINTER;
    HRESULT hr = CDispatcher::GetProperty(item, L"UserProperties", props.put());
    if (FAILED(hr)) return hr;
    return props.AsDispatch() ? S_OK : E_NOINTERFACE;
}

HRESULT FindIn(IDispatch* props, const wchar_t* name, hv::unique_variant& prop) {
    auto arg = hv::unique_variant::FromWide(name);
    HRESULT hr = CDispatcher::CallMethod(props, L"Find", prop.put(), 1, &arg);
    if (FAILED(hr)) return hr;
    return prop.AsDispatch() ? S_OK : S_FALSE;
}

HRESULT FindUserProperty(IDispatch* item, const wchar_t* name, hv::unique_variant& prop) {
    hv::unique_variant props;
    RETURN_IF_FAILED(GetUserProperties(item, props));
    return FindIn(props.AsDispatch(), name, prop);
}

// The text of a found user property's "Value" (empty for an empty value).
HRESULT ReadValue(IDispatch* prop, std::string& value) {
    hv::unique_variant v;
    RETURN_IF_FAILED(CDispatcher::GetProperty(prop, L"Value", v.put()));
    value = v.IsEmpty() ? std::string() : v.AsString();
    return S_OK;
}

}  // namespace

hv::com_ptr<IDispatch> UserProperties(IDispatch* item) {
    hv::unique_variant props;
    if (FAILED(GetUserProperties(item, props))) return nullptr;
    return hv::com_ptr<IDispatch>(props.AsDispatch());
}

HRESULT GetUserPropertyOf(IDispatch* userProperties, const wchar_t* name, std::string& value) {
    if (!userProperties) return E_POINTER;
    try {
        hv::unique_variant prop;
        HRESULT hr = FindIn(userProperties, name, prop);
        if (hr != S_OK) return hr;
        return ReadValue(prop.AsDispatch(), value);
    }
    CATCH_RETURN();
}

HRESULT GetUserProperty(IDispatch* item, const wchar_t* name, std::string& value) {
    try {
        hv::unique_variant prop;
        HRESULT hr = FindUserProperty(item, name, prop);
        if (hr != S_OK) return hr;
        return ReadValue(prop.AsDispatch(), value);
    }
    CATCH_RETURN();
}

HRESULT SetUserProperty(IDispatch* item, const wchar_t* name, const VARIANT& value) {
    try {
        hv::unique_variant props;
        RETURN_IF_FAILED(GetUserProperties(item, props));
        return SetUserPropertyOf(props.AsDispatch(), name, value);
    }
    CATCH_RETURN();
}

namespace {

// Adds a text property (to the folder's fields first, and once more without when that is refused).
HRESULT AddIn(IDispatch* userProperties, const wchar_t* name, hv::unique_variant& prop) {
    // Add(Name, Type, AddToFolderFields): reversed for Invoke.
    hv::unique_variant args[3];
    args[2] = hv::unique_variant::FromWide(name);
    args[1] = hv::unique_variant::FromLong(OL_USER_PROP_TEXT);
    args[0] = hv::unique_variant::FromBool(true);
    HRESULT hr = CDispatcher::CallMethod(userProperties, L"Add", prop.put(), 3, args);
    if (FAILED(hr) || !prop.AsDispatch()) {
        args[0] = hv::unique_variant::FromBool(false);
        hr = CDispatcher::CallMethod(userProperties, L"Add", prop.put(), 3, args);
    }
    if (FAILED(hr)) return hr;
    return prop.AsDispatch() ? S_OK : E_NOINTERFACE;
}

}  // namespace

HRESULT SetUserPropertyOf(IDispatch* userProperties, const wchar_t* name, const VARIANT& value) {
    if (!userProperties) return E_POINTER;
    try {
        hv::unique_variant prop;
        HRESULT hr = FindIn(userProperties, name, prop);
        if (FAILED(hr)) return hr;
        if (hr != S_OK) RETURN_IF_FAILED(AddIn(userProperties, name, prop));
        return CDispatcher::PutProperty(prop.AsDispatch(), L"Value", &value);
    }
    CATCH_RETURN();
}

HRESULT AddUserPropertyTo(IDispatch* userProperties, const wchar_t* name, const VARIANT& value) {
    if (!userProperties) return E_POINTER;
    try {
        hv::unique_variant prop;
        RETURN_IF_FAILED(AddIn(userProperties, name, prop));
        return CDispatcher::PutProperty(prop.AsDispatch(), L"Value", &value);
    }
    CATCH_RETURN();
}

long Count(IDispatch* collection) {
    long count = 0;
    return TryLong(collection, L"Count", count) ? count : 0;
}

hv::com_ptr<IDispatch> TryItemAt(IDispatch* collection, long index) {
    hv::unique_variant arg = hv::unique_variant::FromLong(index);
    return TryCallObject(collection, L"Item", 1, &arg);
}

hv::com_ptr<IDispatch> TryCallObject(IDispatch* object, const wchar_t* name, UINT argCount, VARIANT* reversedArgs) {
    if (!object) return nullptr;
    hv::unique_variant result;
    if (FAILED(CDispatcher::CallMethod(object, name, result.put(), argCount, reversedArgs))) return nullptr;
    return hv::com_ptr<IDispatch>(result.AsDispatch());
}

hv::com_ptr<IDispatch> TryFilter(IDispatch* items, const wchar_t* method, const std::string& filter) {
    hv::unique_variant arg = hv::unique_variant::FromString(filter);
    return TryCallObject(items, method, 1, &arg);
}

}  // namespace hvitem
