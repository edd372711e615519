#pragma once
// The streaming parse of the bulk downloads: SAX content handlers that build CSyncItem records
// as the elements go by, with only the current record and one field element alive at a time.
// Every handler method is a COM method called by the platform reader: nothing escapes them.
#include <atomic>
#include <list>
#include <string>
#include "service/Msxml.h"
#include "service/SyncItem.h"

class CSAXContentHandler : public ISAXContentHandler {
public:
    CSAXContentHandler() = default;
    virtual ~CSAXContentHandler();
    CSAXContentHandler(const CSAXContentHandler&) = delete;
    CSAXContentHandler& operator=(const CSAXContentHandler&) = delete;

    // IUnknown; the object deletes itself when the last reference goes.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISAXContentHandler
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int,
                                           ISAXAttributes*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* chars, int count) override;
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t*, int) override { return S_OK; }

    CSyncItemList m_results;  // finished records, in document order, until moved out
    // The local name of the element that makes the document this download's answer (null: any
    // document will do), and whether it was met. Without it the document is not the answer (an
    // error page of the server or of a proxy is well-formed XML too), however well it parses.
    const wchar_t* m_szAnswer = nullptr;
    bool m_fAnswer = false;
    // A SOAP fault in place of the answer: its two texts.
    bool m_fFault = false;
    std::string m_strFaultCode;
    std::string m_strFaultString;
    std::list<CXMLElem*> m_stack;     // top at the front: the record, then a field inside it
    CSyncItem* m_pCurrent = nullptr;  // the record opened last (on the stack while open)
    // Set from another thread to end the parse at the next element (not owned; may be null).
    const std::atomic<bool>* m_pStop = nullptr;
    bool Stopped() const noexcept { return m_pStop && m_pStop->load(); }

protected:
    // One field element of a record: its local name and where its text goes.
    struct Field {
        const wchar_t* name;
        std::string* (*target)(CSyncItem&);
    };
    // The shared element logic; `record` is the record element's local name.
    void StartElementOf(const wchar_t* record, const wchar_t* name, int length, const Field* fields, size_t count);
    // Returns the field element popped (still to be finished by the caller and deleted), null
    // when the element closed something else. A closing record is finished and kept.
    CXMLElem* EndElementOf(const wchar_t* record, const wchar_t* name, int length, const char* type);

private:
    void FinishRecord(CSyncItem& record, const char* type);
    bool StartFaultElement(const wchar_t* name, int length);
    LONG m_cRef = 0;
};

class CSAXTasks : public CSAXContentHandler {
public:
    CSAXTasks() { m_szAnswer = L"GetMyTasksResponse"; }
    ~CSAXTasks() override = default;
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localLength,
                                           const wchar_t* qName, int qLength, ISAXAttributes* attributes) override;
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localLength,
                                         const wchar_t* qName, int qLength) override;
};

class CSAXEvents : public CSAXContentHandler {
public:
    CSAXEvents() { m_szAnswer = L"GetMyEventsResponse"; }
    ~CSAXEvents() override = default;
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localLength,
                                           const wchar_t* qName, int qLength, ISAXAttributes* attributes) override;
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* uri, int uriLength, const wchar_t* localName, int localLength,
                                         const wchar_t* qName, int qLength) override;
};

// Errors are the reader's to report through its result; the callbacks only acknowledge.
class CSAXErrorHandler : public ISAXErrorHandler {
public:
    virtual ~CSAXErrorHandler() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE error(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

private:
    LONG m_cRef = 0;
};

// Parses the file at `path` through MSXML's SAX reader, handed a stream over the file. On a
// result of exactly 0 the handler's records move to the front of `out` one by one (so `out`
// ends in reverse document order). Takes ownership of `handler`. The result is the parse's,
// or E_FAIL when the answer is a SOAP fault (its texts then go to the two strings) or lacks the
// handler's answer element (the texts then read "Malformed SOAP", as for the document walk). When `stop`
// becomes true (from another thread), the parse ends early with E_ABORT.
HRESULT StreamingParse(const std::string& path, CSAXContentHandler* handler, CSyncItemList& out,
                       std::string* faultCode = nullptr, std::string* faultString = nullptr,
                       const std::atomic<bool>* stop = nullptr);
