#pragma once
// The settings store: named values under the current user's product key. Every access opens
// the key, touches one value and closes it again, so a value written by one library is seen
// by the other at its next read. Failures are logged to the diagnostic log and turned into
// E_FAIL (or the getter's default); nothing throws out of this class.
#include <windows.h>
#include <memory>
#include <string>
#include <type_traits>

class CBlowfish;

// Saved command-bar placement, filled by GetCmdBarState in field order.
struct CMDBAR_STATE {
    DWORD top = 0;
    DWORD left = 0;
    DWORD position = 0;
    DWORD rowIndex = 0;
    DWORD visible = 0;
};

class CCfgBase {
public:
    // Size limits of the stored values.
    enum {
        TEXT_BUFFER_BYTES = 256,    // text values: longer ones read as missing
        SECURE_TEXT_BYTES = 256,    // enciphered values: UTF-16 bytes of the plain text
        SECURE_READ_BYTES = 512,    // read buffer of an enciphered value
        FOLDER_BUFFER_CHARS = 260,  // InprocServer32 path
    };

    CCfgBase();
    ~CCfgBase();
    CCfgBase(const CCfgBase&) = delete;
    CCfgBase& operator=(const CCfgBase&) = delete;

    // Creates the company and product keys when missing and returns the product key path
    // ("Software\<company>\<product>"); creation failures are ignored.
    std::string GetKeyPath();

    void SetKey(const char* name, const char* text);
    void SetKey(const char* name, const std::string& text) { SetKey(name, text.c_str()); }
    void SetKey(const char* name, DWORD value);
    // Any other integer (a literal 0 among them, which would otherwise be ambiguous with the
    // text form) is stored as a 32-bit number.
    template <typename T,
              typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, DWORD>::value, int>::type = 0>
    void SetKey(const char* name, T value) {
        SetKey(name, static_cast<DWORD>(value));
    }
    void SetKey(const char* name, const BYTE* data, DWORD size);

    // Each leaves the output untouched and returns E_FAIL when the value cannot be read
    // (the byte form zero-fills the buffer first).
    HRESULT GetKey(const char* name, DWORD& value);
    HRESULT GetKey(const char* name, BYTE* data, DWORD& size);
    HRESULT GetKey(const char* name, std::string& text);

    // Enciphered text. The UTF-16 form of the text may take at most 256 bytes; a longer text
    // is refused (logged, nothing written) rather than cut.
    void SetSecureKey(const char* name, const std::string& text);
    // Same as SetSecureKey, reporting the outcome.
    HRESULT WriteSecureKey(const char* name, const std::string& text);
    HRESULT GetSecureKey(const char* name, std::string& text);

    // "LogXML" of the "Advanced" subkey; written as 0 when missing.
    DWORD GetLogXML();
    HRESULT GetCmdBarState(CMDBAR_STATE& state);
    // 80 when "SSL" is 0, else 443.
    virtual unsigned short GetPort();
    HRESULT GetServiceURL(std::string& url);
    // Folder of the registered add-in library, with its trailing backslash.
    HRESULT FindAddin(std::string& folder);
    // Removes the product key with everything under it; the company key stays.
    void DeleteAllSettings();

    const std::string& GetCompanyKeyName() const noexcept { return m_strCompany; }
    const std::string& GetProductKeyName() const noexcept { return m_strProduct; }
    const std::string& GetLibraryName() const noexcept { return m_strLibrary; }
    const std::string& GetProgID() const noexcept { return m_strProgID; }
    const std::string& GetFriendlyName() const noexcept { return m_strFriendlyName; }
    const std::string& GetClassIdString() const noexcept { return m_strClassId; }

protected:
    std::string m_strCompany;       // "Halvane"
    std::string m_strProduct;       // "Halvane for Outlook"
    std::string m_strLibrary;       // "HvOut.dll"
    std::string m_strProgID;        // "Halvane.OutlookAddin"
    std::string m_strFriendlyName;  // "Halvane Add-in for Outlook"
    std::string m_strClassId;       // "{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}"

private:
    // Created on the first enciphered access; false when it cannot be.
    bool EnsureCipher();

    std::unique_ptr<CBlowfish> m_pCipher;
    std::string m_strKeyPath;
};
