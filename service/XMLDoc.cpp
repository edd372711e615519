#include "service/XMLDoc.h"
#include <oleauto.h>
#include "common/DiagLog.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {

// Every public operation reports what escaped it with the operation's own name.
HRESULT CaughtIn(const char* operation) noexcept {
    HRESULT hr = hv::ResultFromCaughtException();
    try {
        HvLog().LogError(std::string("Caught Exception: CXMLDoc::") + operation);
    } catch (...) {
    }
    return FAILED(hr) ? hr : E_FAIL;
}

std::string BstrToAnsi(BSTR b) {
    return hv::ToAnsi(b, b ? ::SysStringLen(b) : 0);
}

}  // namespace

CXMLDoc::~CXMLDoc() {
    m_pNode.reset();
    m_pNodeList.reset();
    m_pDoc.reset();
}

HRESULT CXMLDoc::CreateDocument() {
    m_pNode.reset();
    m_pNodeList.reset();
    m_pDoc.reset();
    HRESULT hr = ::CoCreateInstance(hv::msxml::CLSID_DOMDocumentVI, nullptr, CLSCTX_INPROC_SERVER,
                                    __uuidof(IXMLDOMDocument), m_pDoc.put_void());
    if (FAILED(hr)) return hr;
    return m_pDoc->put_async(VARIANT_FALSE);
}

HRESULT CXMLDoc::AfterLoad(HRESULT hr, VARIANT_BOOL ok) {
    if (hr == S_OK && ok == VARIANT_TRUE) {
        THROW_IF_FAILED(m_pDoc->get_childNodes(m_pNodeList.put()));
        m_pNode = m_pDoc.query<IXMLDOMNode>();
        return S_OK;
    }
    NoteParseError();
    return FAILED(hr) ? hr : S_FALSE;
}

HRESULT CXMLDoc::LoadFile(const std::string& path) {
    try {
        RETURN_IF_FAILED(CreateDocument());
        auto source = hv::unique_variant::FromString(path);
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = m_pDoc->load(source, &ok);
        return AfterLoad(hr, ok);
    } catch (...) {
        return CaughtIn("LoadFile");
    }
}

HRESULT CXMLDoc::LoadString(const std::string& text) {
    try {
        RETURN_IF_FAILED(CreateDocument());
        hv::unique_bstr xml = hv::MakeBstr(text);
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = m_pDoc->loadXML(xml.get(), &ok);
        return AfterLoad(hr, ok);
    } catch (...) {
        return CaughtIn("LoadString");
    }
}

HRESULT CXMLDoc::LoadBytes(const std::string& bytes) {
    try {
        RETURN_IF_FAILED(CreateDocument());
        // A byte array lets the parser honour the document's own encoding declaration.
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!array) return E_OUTOFMEMORY;
        hv::unique_variant source;
        source.vt = VT_ARRAY | VT_UI1;
        source.parray = array;
        if (!bytes.empty()) {
            void* data = nullptr;
            THROW_IF_FAILED(::SafeArrayAccessData(array, &data));
            memcpy(data, bytes.data(), bytes.size());
            ::SafeArrayUnaccessData(array);
        }
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = m_pDoc->load(source, &ok);
        return AfterLoad(hr, ok);
    } catch (...) {
        return CaughtIn("LoadBytes");
    }
}

void CXMLDoc::NoteParseError() {
    try {
        if (!m_pDoc) return;
        hv::com_ptr<IXMLDOMParseError> error;
        if (FAILED(m_pDoc->get_parseError(error.put())) || !error) return;
        long code = 0;
        error->get_errorCode(&code);
        hv::unique_bstr reason;
        error->get_reason(reason.put());
        HvLog().LogError(
            hv::Format("XML Parse Error 0x%x : %s", static_cast<unsigned>(code), BstrToAnsi(reason.get()).c_str()));
    } catch (...) {
        CaughtIn("NoteParseError");
    }
}

HRESULT CXMLDoc::ResolvePath(const std::string& path, hv::com_ptr<IXMLDOMNode>& found) {
    found.reset();
    if (path.empty()) {
        found = m_pNode ? m_pNode : (m_pDoc ? m_pDoc.try_query<IXMLDOMNode>() : nullptr);
        return S_OK;
    }
    hv::com_ptr<IXMLDOMNode> base;
    if (path[0] == '/')
        base = m_pDoc ? m_pDoc.try_query<IXMLDOMNode>() : nullptr;
    else
        base = m_pNode;
    if (!base) return E_FAIL;

    if (path == "..") {
        HRESULT hr = base->get_parentNode(found.put());
        return found ? S_OK : (FAILED(hr) ? hr : S_FALSE);
    }
    std::string rest = path;
    while (rest.compare(0, 3, "../") == 0) {
        hv::com_ptr<IXMLDOMNode> parent;
        HRESULT hr = base->get_parentNode(parent.put());
        if (!parent) return FAILED(hr) ? hr : S_FALSE;
        base = parent;
        rest.erase(0, 3);
    }
    if (rest.empty()) {
        found = base;
        return S_OK;
    }
    hv::unique_bstr query = hv::MakeBstr(rest);
    HRESULT hr = base->selectSingleNode(query.get(), found.put());
    if (FAILED(hr)) return hr;
    return found ? S_OK : S_FALSE;
}

HRESULT CXMLDoc::GotoNode(const std::string& path) {
    try {
        hv::com_ptr<IXMLDOMNode> found;
        HRESULT hr = ResolvePath(path, found);
        if (hr != S_OK) return hr;
        m_pNode = found;
        return S_OK;
    } catch (...) {
        return CaughtIn("GotoNode");
    }
}

HRESULT CXMLDoc::LoadNodesByName(const std::string& tagName) {
    try {
        if (!m_pNode) return E_FAIL;
        // Descendants by qualified name: getElementsByTagName compares local names only on some
        // MSXML builds, the selection language matches "ns1:x" as written everywhere.
        hv::unique_bstr query = hv::MakeBstr(".//" + tagName);
        hv::com_ptr<IXMLDOMNodeList> list;
        HRESULT hr = m_pNode->selectNodes(query.get(), list.put());
        if (FAILED(hr)) return hr;
        if (!list) return E_FAIL;
        m_pNodeList = list;
        return S_OK;
    } catch (...) {
        return CaughtIn("LoadNodesByName");
    }
}

HRESULT CXMLDoc::GetNodeCount(long& count) {
    try {
        if (!m_pNodeList) return E_FAIL;
        return m_pNodeList->get_length(&count);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CXMLDoc::GotoNodeAt(long index) {
    try {
        if (!m_pNodeList) return E_FAIL;
        hv::com_ptr<IXMLDOMNode> item;
        HRESULT hr = m_pNodeList->get_item(index, item.put());
        if (FAILED(hr)) return hr;
        if (!item) return S_FALSE;
        m_pNode = item;
        return S_OK;
    } catch (...) {
        return CaughtIn("GotoNodeAt");
    }
}

HRESULT CXMLDoc::GetSingleNodeValue(const char* path, std::string& text) {
    try {
        if (!path || !*path) return E_INVALIDARG;
        hv::com_ptr<IXMLDOMNode> base;
        if (path[0] == '/')
            base = m_pDoc ? m_pDoc.try_query<IXMLDOMNode>() : nullptr;
        else
            base = m_pNode;
        if (!base) return E_FAIL;
        hv::unique_bstr query = hv::MakeBstr(std::string(path));
        hv::com_ptr<IXMLDOMNode> found;
        HRESULT hr = base->selectSingleNode(query.get(), found.put());
        if (FAILED(hr)) return hr;
        if (!found) return S_FALSE;

        hv::com_ptr<IXMLDOMNode> child;
        found->get_firstChild(child.put());
        while (child) {
            DOMNodeType type = NODE_INVALID;
            child->get_nodeType(&type);
            if (type == NODE_TEXT) {
                hv::unique_bstr value;
                THROW_IF_FAILED(child->get_text(value.put()));
                text = BstrToAnsi(value.get());
                return S_OK;
            }
            hv::com_ptr<IXMLDOMNode> next;
            child->get_nextSibling(next.put());
            child = next;
        }
        return S_FALSE;
    } catch (...) {
        return CaughtIn("GetSingleNodeValue");
    }
}
