#pragma once
// The link between an Outlook item and its service record: named user properties on the
// item ("HV Record ID", "HV Hash", ...) or, for an occurrence of a recurring appointment, the
// link blob in its "BillingInformation".
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "service/SyncItem.h"

enum : long {
    OL_CLASS_APPOINTMENT = 26,
    OL_CLASS_TASK = 48,
    OL_USER_PROP_TEXT = 1,
};

// One user property of an Outlook item by name: S_OK with its value as text, S_FALSE when the
// item has no such property, or the failing call's code.
HRESULT GetUserProperty(IDispatch* item, const wchar_t* name, std::string& value);
// Sets a user property, creating it as a text property when missing (added to the folder's
// fields first, and once more without when that is refused).
HRESULT SetUserProperty(IDispatch* item, const wchar_t* name, const VARIANT& value);

// Reads the link of `item` into `record`: the user properties, or only the link blob when the
// item belongs to a recurring series.
void LoadUserProps(IDispatch* item, CSyncItem& record, bool recurring);

// Writes the link properties (and the fingerprint) of an item and saves it. Any of the last
// five values may be null (not given). Class must be 48 (task) or 26 (appointment).
HRESULT SetLinkProps(IDispatch* item, long olClass, CSyncItem* record, const CTarget& target,
                     const std::string* lastModified, const std::string* assignedTo,
                     const std::string* assignedIds, const std::string* organizer,
                     const std::string* internalUse);
