#pragma once
// The product's settings: identity of the add-in, the service endpoint defaults and one
// accessor per stored value with its default. Construct on the stack, read, let it go.
#include <windows.h>
#include <map>
#include <string>
#include "common/CfgBase.h"

class CConfig : public CCfgBase {
public:
    // Identity of the product in the registry and in COM.
    static constexpr const char* COMPANY_KEY = "Halvane";
    static constexpr const char* PRODUCT_KEY = "Halvane for Outlook";
    static constexpr const char* ADDIN_LIBRARY = "HvOut.dll";
    static constexpr const char* ADDIN_PROGID = "Halvane.OutlookAddin";
    static constexpr const char* ADDIN_FRIENDLY_NAME = "Halvane Add-in for Outlook";
    static constexpr const char* ADDIN_CLSID = "{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}";
    static constexpr const char* ADVANCED_SUBKEY = "Advanced";
    static constexpr const char* KEY_CLASS = "Application Global Data";

    // Service endpoint defaults.
    static constexpr const char* DEFAULT_HOST = "api.halvane.example";
    static constexpr const char* DEFAULT_SERVICE_PATH = "soap/v2.2beta/";

    // Item-type words of the per-type values.
    static constexpr const char* TYPE_TASK = "Task";
    static constexpr const char* TYPE_EVENT = "Event";

    // Defaults of the numeric values.
    enum : DWORD {
        DEF_SSL = 1,
        DEF_TIMEOUT = 120,
        DEF_SYNC_QUANTUM = 120,
        DEF_SYNC_AT_STARTUP = 0,
        DEF_AUTO_PUSH = 1,
        DEF_DELETE_OUTLOOK_ITEMS = 1,
        DEF_DELETE_HV_ITEMS = 1,
        DEF_SAX_PARSING = 1,
        DEF_MAX_OCCURRENCES = 10,
        DEF_RECURRENCE_WINDOW = 90,
        DEF_HASH_VERSION = 1,
        DEF_SYNC_SIZE = 1,
        DEF_STALE_AFTER = 30,
        DEF_PURGE_HV = 0,
        DEF_LOG_XML = 0,
    };
    // Fingerprint version the synchronisation dialog stores when it closes.
    enum : DWORD { CURRENT_HASH_VERSION = 2 };

    enum { PORT_HTTP = 80, PORT_HTTPS = 443 };
    // The whole "user<TAB>password" text: 256 bytes of UTF-16.
    enum { MAX_CREDENTIAL_CHARS = 128 };

    // String resources of the ribbon markup and the raw-data resource of the button image.
    enum : UINT {
        IDR_RIBBON_MAIL_READ = 26065,
        IDR_RIBBON_EXPLORER = 26066,
        IDR_RIBBON_TASK = 26068,
        IDR_RIBBON_APPOINTMENT = 26069,
        IDR_RIBBON_IMAGE = 26020,
    };

    // Process-wide endpoint defaults, (re)assigned by every construction.
    static std::string m_strDefaultHost;
    static std::string m_strDefaultPath;

    CConfig();

    DWORD GetSyncSize();  // any non-zero value reads as 1
    DWORD GetSyncQuantum();
    DWORD GetSyncAtStartup();
    DWORD GetAutoPush();
    DWORD GetSAXParsing();
    DWORD GetDeleteOutlookItems();
    DWORD GetDeleteHVItems();
    DWORD GetMaxOccurrences();
    DWORD GetRecurrenceWindow();
    DWORD GetHashVersion();
    DWORD GetTimeout();
    DWORD GetStaleAfter(const char* typeWord);  // "%sStaleAfter"
    DWORD GetPurgeHV(const char* typeWord);     // "PurgeHV%ss"

    void SetSyncSize(DWORD value);
    void SetHashVersion(DWORD value);
    void SetSyncQuantum(DWORD value);
    void SetSyncAtStartup(DWORD value);
    void SetAutoPush(DWORD value);
    void SetDeleteOutlookItems(DWORD value);
    void SetDeleteHVItems(DWORD value);

    // "Last%sSync": the current UTC time as "YYYY-MM-DDThh:mm:ssZ".
    void SetLastSync(const char* typeWord);
    HRESULT GetLastSync(const char* typeWord, std::string& text);
    // "Last%sDownload": when the download of the last complete run was asked for. The next
    // incremental download starts there, so that a change made on the service while that run
    // was busy is still fetched ("Last%sSync", the end of the run, is later).
    void SetLastDownload(const char* typeWord, const std::string& stamp);
    HRESULT GetLastDownload(const char* typeWord, std::string& text);
    // The current UTC time as "%d-%02d-%02dT%02d:%02d:%02dZ".
    static std::string NowStamp();
    void SetLastCategory(const char* typeWord, const std::string& text);
    HRESULT GetLastCategory(const char* typeWord, std::string& text);
    void SetLastWorkspace(const char* typeWord, const std::string& text);
    HRESULT GetLastWorkspace(const char* typeWord, std::string& text);

    // "Credentials": "user<TAB>password", enciphered. A text longer than
    // MAX_CREDENTIAL_CHARS UTF-16 characters is refused with E_INVALIDARG, nothing written.
    HRESULT SetCredentials(const std::string& user, const std::string& password);
    // Splits at the first TAB; E_FAIL (outputs untouched) when there is none.
    HRESULT GetCredentials(std::string& user, std::string& password);

    // Links a run could not save: the service record it created for an Outlook item whose link
    // properties failed to save. Kept under "Pending Links" ("<Type> <EntryID>" = record id)
    // until a later run has written the link, so that the item and its record are paired
    // instead of being created a second time on either side.
    void SetPendingLink(const char* typeWord, const std::string& entryId, const std::string& recordId);
    void ClearPendingLink(const char* typeWord, const std::string& entryId);
    // EntryID -> record id of every pending link of the type.
    std::map<std::string, std::string> GetPendingLinks(const char* typeWord);

    // Creates a run sent for an Outlook item without knowing whether the service carried them
    // out (the answer may be lost): "<Type> <EntryID>" = "<stamp> <fingerprint>" under
    // "Pending Creates", the time of the attempt (NowStamp) and the item's fingerprint as sent.
    // A later run pairs the item with a record created since then that still holds those values
    // instead of creating it a second time; the entry goes once the item is linked or gone.
    struct CPendingCreate {
        std::string stamp;
        std::string fingerprint;
    };
    void SetPendingCreate(const char* typeWord, const std::string& entryId, const std::string& stamp,
                          const std::string& fingerprint);
    void ClearPendingCreate(const char* typeWord, const std::string& entryId);
    // EntryID -> attempt of every pending create of the type.
    std::map<std::string, CPendingCreate> GetPendingCreates(const char* typeWord);

    // Ribbon markup resource for an Outlook ribbon id (exact, case-sensitive), 0 if none.
    static UINT GetRibbonResource(const char* ribbonId);
    static UINT GetImageResource();

private:
    DWORD GetNumber(const char* name, DWORD defaultValue);
};
