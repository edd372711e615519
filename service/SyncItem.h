#pragma once
// The one record of the synchronisation engine: a task or an event as the service returned it
// or as it was read from an Outlook item, with the action the planner gave it. Fields that come
// from the service bear the service element's name and hold its text as received.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include "win/Strings.h"
#include "service/XMLDoc.h"

class CRecurrenceVector;

enum : long {
    ACTION_UPDATE_SERVICE = 0,
    ACTION_UPDATE_OUTLOOK = 1,
    ACTION_NONE = 2,
    ACTION_DONE = 3,
    ACTION_COMPUTING = 4,
    ACTION_FAILED = 5,
    ACTION_DELETE_OUTLOOK = 6,
    ACTION_DELETE_SERVICE = 7,
};

enum : long {
    SOURCE_OUTLOOK = 1,
    SOURCE_SERVICE = 2,
};

// Where an item lives on the service; also names the destination of a push.
class CTarget {
public:
    std::string m_strID;             // task_id / event_id; empty before the first push
    std::string m_strCatID = "0";    // tasklist_id (task list, folder or calendar)
    std::string m_strSpaceID = "0";  // space_id
    std::string m_strFolder;         // category_name
    std::string m_strWorkspace;      // space_name
};

class CSyncItem : public CXMLElem {
public:
    CSyncItem();
    CSyncItem(const CSyncItem& other);
    CSyncItem& operator=(const CSyncItem& other);

    // Sets the action and its display text (an unknown code becomes ACTION_COMPUTING); the
    // counterpart, when there is one, gets the same, so both rows of a pair agree.
    void SetAction(long action);
    static std::string ActionText(long action);

    // The link text of an occurrence of a recurring appointment ("BillingInformation"). Values
    // are XML-escaped; the optional elements are written only when given.
    std::string BuildLinkBlob(const std::string* lastModified, const std::string* assignedTo,
                              const std::string* assignedIds, const std::string* organizer,
                              const std::string* internalUse) const;
    // Reads a link text into this record; blobs written before values were escaped read the
    // same. A blob that is empty, not XML or without "HV" changes nothing and returns non-zero.
    HRESULT ReadLinkBlob(const std::string& blob);
    // Takes the service's fields of a record the service answered with (a push's answer): its
    // target, texts, dates, people and times. The run's own state of this record (EntryID,
    // row, counterpart, occurrence, source, type, action) stays as it is.
    void AbsorbAnswer(const CSyncItem& answer);

    long m_nAction = ACTION_COMPUTING;
    long m_nListIndex = -1;
    std::string m_strEntryID;
    CTarget m_target;
    std::string title;
    std::string location;
    std::string description_plain_text;
    std::string completed;
    std::string priority;
    std::string due_date;
    std::string assigned_to;
    std::string assigned_to_userids;
    std::string internal_use_only;
    std::string created;
    std::string created_by;
    std::string created_by_name;
    std::string last_modified;
    int64_t m_timeOutlookModified = 0;
    std::string m_strType = "Task";
    std::string m_strActionText;
    std::string organizer;
    // One field: a task's start_date, an event's start_time.
    std::string start_date;
    std::string& start_time = start_date;
    std::string end_time;
    std::string m_strHash;
    long m_fDeleted = 0;
    std::string deleted;
    CRecurrenceVector* m_pOccurrence = nullptr;  // not owned
    long m_fLaterOccurrence = 0;
    long m_nBusyStatus = 0;
    long m_nSource = SOURCE_SERVICE;
    CSyncItem* m_pCounterpart = nullptr;  // not owned
};

// The record lists of the downloads and the synchronisation dialog own their records; every
// other pointer to a record (rows, counterparts, the entry-id map) borrows from one of them.
using CSyncItemList = std::list<std::unique_ptr<CSyncItem>>;

// The values of the link blob escape the five XML special characters.
using hv::EscapeFiveSpecials;
