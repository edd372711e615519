#pragma once
// DOM access by path over MSXML's DOMDocument: a current node, a current node list, and a few
// navigation and read operations. Results: 0 success, 1 nothing found, negative error.
#include <string>
#include "service/Msxml.h"
#include "win/ComPtr.h"

class CXMLDoc {
public:
    CXMLDoc() = default;
    ~CXMLDoc();
    CXMLDoc(const CXMLDoc&) = delete;
    CXMLDoc& operator=(const CXMLDoc&) = delete;

    HRESULT LoadFile(const std::string& path);
    // Loads text in the ANSI code page (the link blob of an Outlook item, for instance).
    HRESULT LoadString(const std::string& text);
    // Loads a document as it came off the wire: raw bytes whose encoding the XML declaration
    // names (UTF-8 when it names none).
    HRESULT LoadBytes(const std::string& bytes);
    void NoteParseError();

    HRESULT GotoNode(const std::string& path);
    HRESULT LoadNodesByName(const std::string& tagName);
    HRESULT GetNodeCount(long& count);
    HRESULT GotoNodeAt(long index);
    // The first text child of the node at `path`; `text` is left alone when there is none.
    HRESULT GetSingleNodeValue(const char* path, std::string& text);

    IXMLDOMNode* CurrentNode() const noexcept { return m_pNode.get(); }

private:
    HRESULT CreateDocument();
    HRESULT AfterLoad(HRESULT hr, VARIANT_BOOL ok);
    HRESULT ResolvePath(const std::string& path, hv::com_ptr<IXMLDOMNode>& found);

    hv::com_ptr<IXMLDOMDocument> m_pDoc;
    hv::com_ptr<IXMLDOMNodeList> m_pNodeList;
    hv::com_ptr<IXMLDOMNode> m_pNode;
};

// The element the streaming parser is inside of.
class CXMLElem {
public:
    std::string m_strName;
    std::string* m_pTarget = nullptr;  // not owned
    long m_nCapture = 0;
};

// Second base of every operation; carries no behaviour.
class CParseXML {};
