#include "service/SAXHandlers.h"
#include <shlwapi.h>
#include <cstring>
#include <cwchar>
#include <memory>
#include "service/TimeLogic.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {

bool Is(const wchar_t* name, int length, const wchar_t* what) {
    return static_cast<size_t>(length) == wcslen(what) && wmemcmp(name, what, static_cast<size_t>(length)) == 0;
}

bool IsNamed(const CXMLElem* element, const wchar_t* name, int length) {
    // Element names on the stack are ASCII: compare without converting the wide name.
    const std::string& own = element->m_strName;
    if (own.size() != static_cast<size_t>(length)) return false;
    for (int i = 0; i < length; ++i)
        if (static_cast<wchar_t>(static_cast<unsigned char>(own[static_cast<size_t>(i)])) != name[i]) return false;
    return true;
}

std::string Narrow(const wchar_t* text, int length) {
    return hv::ToAnsi(text, static_cast<size_t>(length));
}

#define HV_FIELD(element, member)                                          \
    {                                                                      \
        L##element, [](CSyncItem& r) -> std::string* { return &r.member; } \
    }

}  // namespace

CSAXContentHandler::~CSAXContentHandler() {
    for (CXMLElem* element : m_stack) {
        if (element == m_pCurrent)
            delete m_pCurrent;
        else
            delete element;
    }
    m_stack.clear();
}

HRESULT CSAXContentHandler::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(ISAXContentHandler)) {
        *ppv = static_cast<ISAXContentHandler*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CSAXContentHandler::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

ULONG CSAXContentHandler::Release() {
    const LONG count = ::InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT CSAXContentHandler::characters(const wchar_t* chars, int count) {
    try {
        if (m_stack.empty() || count <= 0) return S_OK;
        CXMLElem* top = m_stack.front();
        // Text can come in several pieces (entities split it): append.
        if (top->m_nCapture == 1 && top->m_pTarget) top->m_pTarget->append(Narrow(chars, count));
        return S_OK;
    }
    CATCH_RETURN();
}

// A fault answer carries no records; its code and text are kept so that the download can
// fail with them instead of passing for an empty answer.
bool CSAXContentHandler::StartFaultElement(const wchar_t* name, int length) {
    if (m_pCurrent) return false;
    if (Is(name, length, L"Fault")) {
        m_fFault = true;
        return true;
    }
    if (!m_fFault) return false;
    std::string* target = nullptr;
    if (Is(name, length, L"faultcode"))
        target = &m_strFaultCode;
    else if (Is(name, length, L"faultstring"))
        target = &m_strFaultString;
    else
        return false;
    auto element = std::make_unique<CXMLElem>();
    element->m_strName = Narrow(name, length);
    element->m_nCapture = 1;
    element->m_pTarget = target;
    m_stack.push_front(element.get());
    element.release();
    return true;
}

void CSAXContentHandler::StartElementOf(const wchar_t* record, const wchar_t* name, int length, const Field* fields,
                                        size_t count) {
    if (StartFaultElement(name, length)) return;
    if (!m_fAnswer && !m_pCurrent && m_szAnswer && Is(name, length, m_szAnswer)) m_fAnswer = true;
    if (Is(name, length, record)) {
        auto item = new CSyncItem();
        item->m_strName = Narrow(record, static_cast<int>(wcslen(record)));
        try {
            m_stack.push_front(item);
        } catch (...) {
            delete item;
            throw;
        }
        m_pCurrent = item;
        return;
    }
    if (m_stack.empty()) return;
    CXMLElem* top = m_stack.front();
    // Only direct children of an open record are fields.
    if (top != m_pCurrent || !m_pCurrent) return;
    for (size_t i = 0; i < count; ++i) {
        if (!Is(name, length, fields[i].name)) continue;
        auto element = std::make_unique<CXMLElem>();
        element->m_strName = Narrow(name, length);
        element->m_nCapture = 1;
        element->m_pTarget = fields[i].target(*m_pCurrent);
        // The element's text replaces the field: a category id must not read "0" + "15".
        element->m_pTarget->clear();
        m_stack.push_front(element.get());
        element.release();
        return;
    }
}

CXMLElem* CSAXContentHandler::EndElementOf(const wchar_t* record, const wchar_t* name, int length, const char* type) {
    if (m_stack.empty()) return nullptr;
    CXMLElem* top = m_stack.front();
    if (!IsNamed(top, name, length)) return nullptr;
    if (Is(name, length, record) && top == m_pCurrent) {
        m_stack.pop_front();
        std::unique_ptr<CSyncItem> item(m_pCurrent);
        // A record nested in another (not in our answers) hands the outer one back.
        m_pCurrent = nullptr;
        for (CXMLElem* e : m_stack)
            if (e->m_strName == item->m_strName) {
                m_pCurrent = static_cast<CSyncItem*>(e);
                break;
            }
        FinishRecord(*item, type);
        m_results.push_back(std::move(item));
        return nullptr;
    }
    m_stack.pop_front();
    return top;
}

void CSAXContentHandler::FinishRecord(CSyncItem& record, const char* type) {
    record.m_strType = type;
    if (!record.last_modified.empty()) NormalizeTime(record.last_modified);
    hv::ReplaceAll(record.description_plain_text, "%0A", "\n");
    if (record.deleted == "true") record.m_fDeleted = 1;
}

// ---------------------------------------------------------------------------------------------

// The field tables of the two record kinds (a derived class, to reach the protected Field).
class CSAXTables : public CSAXContentHandler {
public:
    static const Field* Tasks(size_t& count) {
        static const Field table[] = {
            HV_FIELD("task_id", m_target.m_strID),
            HV_FIELD("title", title),
            HV_FIELD("description_plain_text", description_plain_text),
            HV_FIELD("completed", completed),
            HV_FIELD("priority", priority),
            HV_FIELD("start_date", start_date),
            HV_FIELD("due_date", due_date),
            HV_FIELD("assigned_to", assigned_to),
            HV_FIELD("assigned_to_userids", assigned_to_userids),
            HV_FIELD("tasklist_id", m_target.m_strCatID),
            HV_FIELD("space_id", m_target.m_strSpaceID),
            HV_FIELD("space_name", m_target.m_strWorkspace),
            HV_FIELD("category_name", m_target.m_strFolder),
            HV_FIELD("internal_use_only", internal_use_only),
            HV_FIELD("created", created),
            HV_FIELD("created_by", created_by),
            HV_FIELD("created_by_name", created_by_name),
            HV_FIELD("last_modified", last_modified),
            HV_FIELD("deleted", deleted),
        };
        count = sizeof(table) / sizeof(table[0]);
        return table;
    }
    static const Field* Events(size_t& count) {
        static const Field table[] = {
            HV_FIELD("event_id", m_target.m_strID),
            HV_FIELD("title", title),
            HV_FIELD("description_plain_text", description_plain_text),
            HV_FIELD("start_time", start_date),
            HV_FIELD("end_time", end_time),
            HV_FIELD("location", location),
            HV_FIELD("organizer", organizer),
            HV_FIELD("assigned_to", assigned_to),
            HV_FIELD("assigned_to_userids", assigned_to_userids),
            HV_FIELD("space_id", m_target.m_strSpaceID),
            HV_FIELD("space_name", m_target.m_strWorkspace),
            HV_FIELD("internal_use_only", internal_use_only),
            HV_FIELD("last_modified", last_modified),
            HV_FIELD("deleted", deleted),
        };
        count = sizeof(table) / sizeof(table[0]);
        return table;
    }
};

HRESULT CSAXTasks::startElement(const wchar_t*, int, const wchar_t* localName, int localLength, const wchar_t*, int,
                                ISAXAttributes*) {
    if (Stopped()) return E_ABORT;
    try {
        size_t count = 0;
        const Field* fields = CSAXTables::Tasks(count);
        StartElementOf(L"GetMyTasksReturn", localName, localLength, fields, count);
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CSAXTasks::endElement(const wchar_t*, int, const wchar_t* localName, int localLength, const wchar_t*, int) {
    try {
        std::unique_ptr<CXMLElem> field(EndElementOf(L"GetMyTasksReturn", localName, localLength, "Task"));
        if (!field || !field->m_pTarget) return S_OK;
        std::string& value = *field->m_pTarget;
        // Task dates keep only their date; a priority of 0 is the service's "normal".
        if ((field->m_strName == "due_date" || field->m_strName == "start_date") && !value.empty())
            NormalizeTime(value, true);
        else if (field->m_strName == "priority" && value == "0")
            value = "2";
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CSAXEvents::startElement(const wchar_t*, int, const wchar_t* localName, int localLength, const wchar_t*, int,
                                 ISAXAttributes*) {
    if (Stopped()) return E_ABORT;
    try {
        size_t count = 0;
        const Field* fields = CSAXTables::Events(count);
        StartElementOf(L"GetMyEventsReturn", localName, localLength, fields, count);
        return S_OK;
    }
    CATCH_RETURN();
}

HRESULT CSAXEvents::endElement(const wchar_t*, int, const wchar_t* localName, int localLength, const wchar_t*, int) {
    try {
        std::unique_ptr<CXMLElem> field(EndElementOf(L"GetMyEventsReturn", localName, localLength, "Event"));
        return S_OK;
    }
    CATCH_RETURN();
}

// ---------------------------------------------------------------------------------------------

HRESULT CSAXErrorHandler::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(ISAXErrorHandler)) {
        *ppv = static_cast<ISAXErrorHandler*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CSAXErrorHandler::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

ULONG CSAXErrorHandler::Release() {
    const LONG count = ::InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT StreamingParse(const std::string& path, CSAXContentHandler* handler, CSyncItemList& out, std::string* faultCode,
                       std::string* faultString, const std::atomic<bool>* stop) {
    hv::com_ptr<CSAXContentHandler> content(handler);  // owns the handler from here on
    try {
        THROW_HR_IF(E_POINTER, !handler);
        handler->m_pStop = stop;
        hv::com_ptr<ISAXXMLReader> reader;
        THROW_IF_FAILED(::CoCreateInstance(hv::msxml::CLSID_SAXXMLReaderVI, nullptr, CLSCTX_ALL,
                                           __uuidof(ISAXXMLReader), reader.put_void()));
        hv::com_ptr<CSAXErrorHandler> errors(new CSAXErrorHandler());
        THROW_IF_FAILED(reader->putContentHandler(content.get()));
        THROW_IF_FAILED(reader->putErrorHandler(errors.get()));
        // A stream over the file, not parseURL: the reader reads a URL source in a way that
        // grows quadratically with the answer on some platforms.
        hv::com_ptr<IStream> stream;
        const std::wstring widePath = hv::ToWide(path);
        THROW_IF_FAILED(::SHCreateStreamOnFileEx(widePath.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                                 FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream.put()));
        hv::unique_variant source;
        source.vt = VT_UNKNOWN;
        source.punkVal = stream.copy();
        HRESULT hr = reader->parse(source);
        if (hr == S_OK && handler->Stopped()) hr = E_ABORT;
        if (hr == S_OK && handler->m_fFault) {
            if (faultCode) *faultCode = handler->m_strFaultCode;
            if (faultString) *faultString = handler->m_strFaultString;
            hr = E_FAIL;
        }
        if (hr == S_OK && handler->m_szAnswer && !handler->m_fAnswer) {
            if (faultCode) *faultCode = "Malformed SOAP";
            if (faultString) *faultString = "Malformed SOAP";
            hr = E_FAIL;
        }
        if (hr == S_OK) {
            while (!handler->m_results.empty()) {
                out.push_front(std::move(handler->m_results.front()));
                handler->m_results.pop_front();
            }
        }
        reader->putContentHandler(nullptr);
        reader->putErrorHandler(nullptr);
        return hr;
    }
    CATCH_RETURN();
}
