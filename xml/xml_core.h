// XML document core: tokenizer, one-pass tree builder, reference decoding and
// the cursor used to walk the element tree.
//
// The core works on text that is already UTF-16. It includes no Windows
// header, so it also builds natively (for unit tests and fuzzing). On Windows
// the text type is std::wstring; elsewhere wchar_t is 32 bits wide, so the
// core uses char16_t there and behaves identically.
//
// The class is implemented by concern: xml_tree.cpp (construction, element
// records, Parse), xml_tokenizer.cpp (NextToken), xml_cursor.cpp (FindElem,
// FindNode, IntoElem, OutOfElem, GetTagName, GetAttrib), xml_decode.cpp
// (DecodeText, DecodeUtf8, DetectCodePage) and xml_entities.cpp (the table
// of named references); xml_internal.h holds what they share. LoadFile, the
// only Windows-dependent part, lives in xml_doc.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
using XmlChar = wchar_t;
#else
using XmlChar = char16_t;
#endif
static_assert(sizeof(XmlChar) == 2, "XmlChar must be a UTF-16 code unit");

using XmlString = std::basic_string<XmlChar>;

class CXmlDoc
{
public:
    // Token kinds. The positive values are also the node kinds reported and
    // filtered on by FindNode.
    enum : int
    {
        XML_NODE_ELEMENT = 1,
        XML_NODE_TEXT = 2,
        XML_NODE_WHITESPACE = 4,
        XML_NODE_CDATA_SECTION = 8,
        XML_NODE_PROCESSING_INSTRUCTION = 16,
        XML_NODE_COMMENT = 32,
        XML_NODE_DOCUMENT_TYPE = 64,
        XML_NODE_LONE_END_TAG = 128,
        XML_NODE_FAULT = 32768,
        XML_TOKEN_END_TAG = 0,
        XML_TOKEN_FAULT = -1,
        XML_TOKEN_END_OF_TEXT = -2,
    };

    // Token flag: a start tag closed by "/>".
    static constexpr std::uint32_t EmptyElement = 0x00010000;
    // Element record flags.
    static constexpr std::uint32_t FirstSibling = 0x00080000;
    static constexpr std::uint32_t NotEnded = 0x00100000;
    static constexpr std::uint32_t HasFault = 0x00200000;
    static constexpr std::uint32_t IllFormed = 0x00800000; // record 0 only

    // Code pages a file's bytes are converted from.
    static constexpr unsigned XML_CODEPAGE_ANSI = 0;
    static constexpr unsigned XML_CODEPAGE_UTF8 = 65001;

    // Element records live in segments of this many records; a segment is
    // never moved once full, only the list of segment pointers grows.
    static constexpr int SEGMENT_BITS = 16;
    static constexpr int SEGMENT_SIZE = 1 << SEGMENT_BITS;

    // One record per element; record 0 stands for the document (its first
    // child is the first top-level element, its length the text length).
    struct ElemRecord
    {
        std::int32_t start;          // offset of the element's '<'
        std::int32_t length;         // '<' through end tag (or start tag)
        std::int32_t startTagLength; // length of the start tag
        std::int32_t endTagLength;   // 0 for <a/> and for an element not ended
        std::int32_t level;          // number of open elements around the start tag
        std::uint32_t flags;         // FirstSibling, NotEnded, HasFault, IllFormed
        std::int32_t parent;         // 0 = document
        std::int32_t firstChild;     // 0 = none
        std::int32_t nextSibling;    // 0 = last sibling
        std::int32_t prevSibling;    // the first sibling holds the last sibling
    };

    // One token of the text.
    struct Token
    {
        int kind = XML_TOKEN_END_OF_TEXT;
        int start = 0;
        int length = 0;
        std::uint32_t flags = 0; // EmptyElement
        XmlString text;          // start-tag / PI name, or the fault message
    };

    // Tokenizer position. The bounds of the last end-tag name read are kept
    // here rather than copied into the token.
    struct TokenState
    {
        const XmlChar* text = nullptr;
        int length = 0;
        int pos = 0;
        int endNameStart = 0;
        int endNameEnd = 0;
    };

    CXmlDoc();
    explicit CXmlDoc(const XmlChar* text);
    explicit CXmlDoc(const XmlString& text);
    CXmlDoc(const CXmlDoc&) = delete;
    CXmlDoc& operator=(const CXmlDoc&) = delete;
    // A moved-from document holds no records: every query on it fails.
    CXmlDoc(CXmlDoc&& other) noexcept;
    CXmlDoc& operator=(CXmlDoc&& other) noexcept;
    ~CXmlDoc() = default;

    // Replaces the text (null = empty), clears the result message, parses.
    bool SetDoc(const XmlChar* text);
    bool SetDoc(const XmlString& text);
    // Builds the element records for the current text; true when the
    // document is well-formed with exactly one top-level element.
    bool Parse();

    const XmlString& GetDoc() const { return m_doc; }
    // The load message and/or the first problem met by the last Parse.
    const XmlString& GetResult() const { return m_result; }

#if defined(_WIN32)
    // Reads a file into this document's text (no parse; Parse follows).
    // On failure the result message holds the runtime library's error text.
    bool LoadFile(const wchar_t* path);
    // Reads the file at path into document; message (may be null) receives
    // the load message or the error text. True when the file could be opened.
    static bool LoadFile(const wchar_t* path, std::wstring& document, std::wstring* message);
#endif

    // Cursor operations.
    bool FindElem(const XmlChar* name = nullptr);
    bool FindElem(const XmlString& name) { return FindElem(name.c_str()); }
    int FindNode(int kinds = 0);
    bool IntoElem();
    bool OutOfElem();
    XmlString GetTagName() const;
    XmlString GetAttrib(const XmlChar* name) const;
    XmlString GetAttrib(const XmlString& name) const { return GetAttrib(name.c_str()); }

    // Read access to the records and the cursor.
    int GetRecordCount() const { return m_nextFree; }
    const ElemRecord* GetRecord(int index) const;
    int GetCursorParent() const { return m_parent; }
    int GetCursorElement() const { return m_elem; }
    int GetCursorChild() const { return m_child; }
    int GetNodeKind() const { return m_nodeKind; }
    int GetNodeOffset() const { return m_nodeOffset; }
    int GetNodeLength() const { return m_nodeLength; }

    // The tokenizer.
    static void NextToken(TokenState& state, Token& token);
    // A copy of text with entity and character references replaced.
    static XmlString DecodeText(const XmlChar* text, std::size_t length);
    static XmlString DecodeText(const XmlString& text) { return DecodeText(text.data(), text.size()); }
    // Decodes UTF-8 bytes; invalid characters become '?', a zero byte ends
    // the text and a sequence cut off by the end of the bytes is dropped.
    static XmlString DecodeUtf8(const unsigned char* bytes, std::size_t size);
    // The code page a file's bytes are in, judged from the XML declaration
    // within its first 100 bytes: XML_CODEPAGE_ANSI or XML_CODEPAGE_UTF8.
    static unsigned DetectCodePage(const unsigned char* bytes, std::size_t size);

private:
    struct OpenTag
    {
        XmlString name;
        int record;
    };

    ElemRecord& Rec(int index) { return m_segments[index >> SEGMENT_BITS][index & (SEGMENT_SIZE - 1)]; }
    const ElemRecord& Rec(int index) const { return m_segments[index >> SEGMENT_BITS][index & (SEGMENT_SIZE - 1)]; }
    void ResetRecords(int capacity);
    void GrowRecords(int capacity);
    int NewRecord();
    void AppendChild(int parent, int child);
    void ResetCursor();
    void RecordProblem(const XmlString& message);
    void CloseNotEnded(std::vector<OpenTag>& open, std::size_t from, const XmlString* endTagName, int endTagOffset);
    int TextLength() const { return static_cast<int>(m_doc.size()); }

    XmlString m_doc;
    XmlString m_result;
    XmlString m_loadMessage;

    // Cursor.
    int m_parent = 0;
    int m_elem = 0;
    int m_child = 0;
    int m_nodeKind = 0;
    int m_nodeOffset = 0;
    int m_nodeLength = 0;

    // Records.
    int m_nextFree = 1;
    int m_capacity = 0;
    std::vector<std::unique_ptr<ElemRecord[]>> m_segments;
};
