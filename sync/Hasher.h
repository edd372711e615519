#pragma once
// Fingerprints of tasks and appointments (version 2): the MD5 of the concatenated property
// texts, filtered to printable ASCII without "$". Both sides of every comparison come from here,
// so the input must be built byte for byte the same way every time.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "service/SyncItem.h"
#include "sync/Hash.h"
#include "win/Dispatcher.h"

class CHasher : public CDispatcher {
public:
    enum { HASH_VERSION = 2 };

    void HashApptProps(const char* title, const char* location, const char* start, const char* end,
                       const char* assignedIDs, const char* organizer, const char* internalUse, const char* body,
                       std::string& hash);
    void HashTaskProps(const char* title, const char* priority, const char* start, const char* due,
                       const char* completed, const char* assignedIDs, const char* body, std::string& hash);

    // With `load` the item's properties are read into the record first; with `compute` the
    // record is then fingerprinted into its m_strHash. Both return 0.
    HRESULT HashAppt(IDispatch* item, CSyncItem* record, int load, int compute);
    HRESULT HashTask(IDispatch* item, CSyncItem* record, int load, int compute);
    // Class 26 (appointment) or 48 (task); E_NOTIMPL for any other.
    HRESULT Hash(IDispatch* item, long olClass, CSyncItem* record, int load, int compute);

    // The fingerprint of the record's own fields only, without the link values the service
    // adds to a record it creates (assignees, organizer, internal use): what an Outlook item
    // that was never linked and the record created from it have in common.
    std::string ContentHash(long olClass, const CSyncItem& record);

    // Keeps the printable ASCII bytes except "$".
    static std::string FilterInput(const std::string& input);
    // A task's start or due text as it enters the fingerprint: a text without "-" that parses
    // as a service time becomes its local date; anything is cut at its "T".
    static std::string TaskDateText(const char* text);

    std::string m_strInput;  // the input of the last fingerprint, for the log

private:
    void Digest(const char* logFormat, std::string& hash);
    CHash m_md5;  // keeps its provider for the fingerprints of a whole run
};
