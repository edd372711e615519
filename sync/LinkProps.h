#pragma once
// The link between an Outlook item and its service record: named user properties on the
// item ("HV Record ID", "HV Hash", ...) or, for an occurrence of a recurring appointment, the
// link blob in its "BillingInformation".
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "service/SyncItem.h"
#include "sync/Hasher.h"
#include "sync/ItemAccess.h"

// User properties are read and written through the one late-bound path.
using hvitem::GetUserProperty;
using hvitem::SetUserProperty;

// Reads the link of `item` into `record`: the user properties, or only the link blob when the
// item belongs to a recurring series.
void LoadUserProps(IDispatch* item, CSyncItem& record, bool recurring);

// Writes the link properties (and the fingerprint) of an item and saves it. Any of the last
// five values may be null (not given). Class must be 48 (task) or 26 (appointment). `hasher`, when
// given, is the caller's (it keeps its cryptographic provider between items). `content`, when
// given, is what the item holds (its content fields, as the caller has just read them): the
// fingerprint is taken from it instead of from a second reading of the item.
HRESULT SetLinkProps(IDispatch* item, long olClass, CSyncItem* record, const CTarget& target,
                     const std::string* lastModified, const std::string* assignedTo, const std::string* assignedIds,
                     const std::string* organizer, const std::string* internalUse, CHasher* hasher = nullptr,
                     const CSyncItem* content = nullptr);
