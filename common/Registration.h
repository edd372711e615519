#pragma once
// What the add-in library writes into the registry for COM and for Office, and takes out again:
// the registrar script, the class and ProgID keys, the Office add-in key per Outlook version,
// and the deletion of whole key trees. Registration never shows anything; the callers decide
// which failures they report.
#include <windows.h>
#include <string>

class CRegistration {
public:
    // %APPID% of the registry script.
    static constexpr const char* APPID = "{0880FD8A-BBC0-4CA2-8BCF-6B096DDD371D}";
    // The Office versions that decide where the add-in key goes and whether a command bar is used.
    static constexpr const char* FIRST_MACHINE_WIDE_VERSION = "12";
    static constexpr const char* FIRST_RIBBON_VERSION = "13";

    // Outlook's major version from the default value of HKCR\Outlook.Application\CurVer: the
    // text after its last '.'; "11" when the key, the value or the '.' is missing.
    static std::string OutlookVersion();
    // Versions compare as byte strings, as the product always has ("9" sorts after "13").
    static bool VersionBelow(const std::string& version, const char* other);

    // Deletes the key and everything below it: first subkeys again from index 0 until none is
    // left, then the key. A key that cannot be opened is left alone (S_FALSE); an error while
    // deleting a subkey stops the walk and is returned.
    static HRESULT DeleteKeyTree(HKEY root, const std::string& path);

    // "Software\Microsoft\Office\<application>\Addins\<ProgID>".
    static std::string OfficeAddinKeyPath(const char* application);

    // Runs a registrar script (COM registrar script format) with %APPID% replaced, through the
    // platform's registrar object; `unregister` removes what it would write.
    static HRESULT ApplyScript(const std::string& script, bool unregister);

    // The class, in-process server and ProgID keys, then the Office add-in key of "Outlook"
    // under the current user below version 12 and under the machine from 12 on. Best effort:
    // the result tells a test what happened, registration does not report it.
    static HRESULT WriteAddinKeys(const std::string& modulePath);
    // The Office add-in key of one application under one root, with its four values.
    static HRESULT WriteOfficeKey(HKEY root, const char* application);
    // The class and ProgID keys, and the Word and Outlook add-in keys of both hives.
    static void RemoveAddinKeys();
};
