// The cursor: walking the element tree and the other nodes between its
// elements, and reading a tag's name and attributes. See xml_core.h.
#include "xml/xml_internal.h"

#include <algorithm>

using xmlcore::AppendAscii;
using xmlcore::IsQuote;
using xmlcore::IsWs;

namespace {

// A character that ends a name as the queries read it.
bool EndsQueryName(unsigned c)
{
    return IsWs(c) || c == '<' || c == '>' || c == '=' || c == '\\' || c == '/' || c == '?' || c == '!';
}

// A character that ends an attribute item that is not quoted.
bool EndsAttribName(unsigned c)
{
    return IsWs(c) || c == '=' || c == '>' || c == '/' || c == '?';
}

// End of the name starting at pos as the queries read it, bounded by end.
int QueryNameEnd(const XmlChar* p, int pos, int end)
{
    while (pos < end && !EndsQueryName(p[pos]))
        ++pos;
    return pos;
}

// A name given to a query matches the text's name [s, e) when the
// characters are the same and the given name ends there or continues with
// one of space, '=', '/', '[', ']'.
bool NameMatches(const XmlChar* p, int s, int e, const XmlChar* given)
{
    int i = 0;
    for (; s + i < e; ++i) {
        if (given[i] == 0 || given[i] != p[s + i])
            return false;
    }
    XmlChar c = given[i];
    return c == 0 || c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

} // namespace

bool CXmlDoc::FindElem(const XmlChar* name)
{
    if (m_capacity == 0)
        return false;
    int candidate = m_elem ? Rec(m_elem).nextSibling : Rec(m_parent).firstChild;
    const XmlChar* p = m_doc.data();
    const int n = TextLength();
    for (; candidate != 0; candidate = Rec(candidate).nextSibling) {
        if (name == nullptr || name[0] == 0)
            break;
        const ElemRecord& r = Rec(candidate);
        const int s = std::min(r.start + 1, n);
        if (NameMatches(p, s, QueryNameEnd(p, s, n), name))
            break;
    }
    if (candidate == 0)
        return false;
    m_elem = candidate;
    m_parent = Rec(candidate).parent;
    m_child = 0;
    m_nodeKind = XML_NODE_ELEMENT;
    m_nodeOffset = m_nodeLength = 0;
    return true;
}

int CXmlDoc::FindNode(int kinds)
{
    if (m_capacity == 0)
        return 0;
    const ElemRecord& parent = Rec(m_parent);
    if (m_parent != 0 && parent.length == parent.startTagLength)
        return 0;

    int elem = m_elem;
    int pos;
    if (m_nodeKind == XML_NODE_ELEMENT || m_nodeKind == 0) {
        if (elem)
            pos = Rec(elem).start + Rec(elem).length;
        else if (m_parent)
            pos = parent.start + parent.startTagLength;
        else
            pos = 0;
    } else {
        pos = m_nodeOffset + m_nodeLength;
    }

    const int parentEnd = m_parent ? parent.start + parent.length : TextLength();
    const int parentEndTag = parentEnd - parent.endTagLength;

    TokenState state;
    state.text = m_doc.data();
    state.length = TextLength();
    state.pos = pos;
    Token token;
    for (;;) {
        NextToken(state, token);
        if (token.kind == XML_TOKEN_END_OF_TEXT)
            return 0;
        if (m_parent != 0 && token.start >= parentEnd)
            return 0;
        int kind = token.kind;
        if (kind == XML_TOKEN_END_TAG) {
            if (m_parent != 0 && parent.endTagLength != 0 && token.start == parentEndTag)
                return 0;
            kind = XML_NODE_LONE_END_TAG;
        } else if (kind == XML_TOKEN_FAULT) {
            kind = XML_NODE_FAULT;
        } else if (kind == XML_NODE_ELEMENT) {
            const int next = elem ? Rec(elem).nextSibling : parent.firstChild;
            if (next == 0)
                return 0;
            elem = next;
            if (kinds == 0 || (kinds & XML_NODE_ELEMENT)) {
                m_elem = elem;
                m_parent = Rec(elem).parent;
                m_child = 0;
                m_nodeKind = XML_NODE_ELEMENT;
                m_nodeOffset = m_nodeLength = 0;
                return XML_NODE_ELEMENT;
            }
            // Go on after the whole element: its content is never visited
            // from outside it.
            state.pos = std::max(state.pos, Rec(elem).start + Rec(elem).length);
            continue;
        }
        if (kinds == 0 || (kinds & kind)) {
            m_elem = elem;
            m_child = 0;
            m_nodeKind = kind;
            m_nodeOffset = token.start;
            m_nodeLength = token.length;
            return kind;
        }
    }
}

bool CXmlDoc::IntoElem()
{
    if (m_elem == 0 || m_nodeKind != XML_NODE_ELEMENT)
        return false;
    m_parent = m_elem;
    m_elem = m_child;
    m_child = 0;
    m_nodeKind = m_elem ? XML_NODE_ELEMENT : 0;
    m_nodeOffset = m_nodeLength = 0;
    return true;
}

bool CXmlDoc::OutOfElem()
{
    if (m_parent == 0)
        return false;
    m_child = m_elem;
    m_elem = m_parent;
    m_parent = Rec(m_parent).parent;
    m_nodeKind = XML_NODE_ELEMENT;
    m_nodeOffset = m_nodeLength = 0;
    return true;
}

XmlString CXmlDoc::GetTagName() const
{
    const XmlChar* p = m_doc.data();
    const int n = TextLength();
    if (m_nodeLength != 0) {
        const int end = std::min(m_nodeOffset + m_nodeLength, n);
        XmlString name;
        switch (m_nodeKind) {
        case XML_NODE_TEXT:
        case XML_NODE_WHITESPACE:
            AppendAscii(name, "#text");
            break;
        case XML_NODE_CDATA_SECTION:
            AppendAscii(name, "#cdata-section");
            break;
        case XML_NODE_COMMENT:
            AppendAscii(name, "#comment");
            break;
        case XML_NODE_PROCESSING_INSTRUCTION:
        case XML_NODE_LONE_END_TAG: {
            // The name after "<?" or "</".
            const int s = std::min(m_nodeOffset + 2, end);
            name.assign(p + s, p + QueryNameEnd(p, s, end));
            break;
        }
        case XML_NODE_DOCUMENT_TYPE: {
            // The name after the keyword.
            int s = QueryNameEnd(p, std::min(m_nodeOffset + 2, end), end);
            while (s < end && IsWs(p[s]))
                ++s;
            name.assign(p + s, p + QueryNameEnd(p, s, end));
            break;
        }
        default:
            break;
        }
        return name;
    }
    if (m_elem == 0)
        return XmlString();
    const ElemRecord& r = Rec(m_elem);
    const int s = std::min(r.start + 1, n);
    const int end = std::min(r.start + r.startTagLength, n);
    return XmlString(p + s, p + QueryNameEnd(p, s, end));
}

XmlString CXmlDoc::GetAttrib(const XmlChar* name) const
{
    if (name == nullptr)
        return XmlString();
    int pos;
    int end;
    if (m_nodeKind == XML_NODE_ELEMENT && m_elem != 0) {
        const ElemRecord& r = Rec(m_elem);
        pos = r.start + 1;
        end = r.start + r.startTagLength;
    } else if (m_nodeKind == XML_NODE_PROCESSING_INSTRUCTION && m_nodeLength != 0) {
        pos = m_nodeOffset + 2;
        end = m_nodeOffset + m_nodeLength;
    } else {
        return XmlString();
    }
    // Items are read within the tag, so a stray quote cannot pull in the
    // attributes of the markup that follows.
    const XmlChar* p = m_doc.data();
    end = std::min(end, TextLength());

    auto readQuoted = [&](int& s, int& e) {
        const XmlChar quote = p[pos];
        s = pos + 1;
        e = s;
        while (e < end && p[e] != quote)
            ++e;
        pos = e < end ? e + 1 : end;
    };

    bool ownNameSkipped = false;
    bool lastWasName = false;
    bool matched = false;
    int matchStart = 0;
    int matchEnd = 0;
    for (;;) {
        while (pos < end && IsWs(p[pos]))
            ++pos;
        if (pos >= end)
            break;
        const XmlChar c = p[pos];
        if (c == '/' || c == '>' || c == '?')
            break;
        if (c == '=') {
            ++pos;
            if (!lastWasName)
                continue;
            lastWasName = false;
            int vs = pos;
            int ve = pos;
            bool hasValue = false;
            if (pos < end && !IsWs(p[pos]) && !IsQuote(p[pos])) {
                // Directly after '=': an unquoted value up to whitespace or '>'.
                while (pos < end && !IsWs(p[pos]) && p[pos] != '>')
                    ++pos;
                ve = pos;
                hasValue = true;
            } else {
                while (pos < end && IsWs(p[pos]))
                    ++pos;
                if (pos < end) {
                    const XmlChar v = p[pos];
                    if (IsQuote(v)) {
                        readQuoted(vs, ve);
                        hasValue = true;
                    } else if (!EndsAttribName(v)) {
                        vs = pos;
                        while (pos < end && !EndsAttribName(p[pos]))
                            ++pos;
                        ve = pos;
                        hasValue = true;
                    }
                }
            }
            if (matched)
                return hasValue ? DecodeText(p + vs, static_cast<std::size_t>(ve - vs)) : XmlString();
            continue;
        }
        if (matched)
            break; // the matched attribute has no value
        if (IsQuote(c)) {
            int s;
            int e;
            readQuoted(s, e);
            lastWasName = false;
            continue;
        }
        const int s = pos;
        while (pos < end && !EndsAttribName(p[pos]))
            ++pos;
        if (!ownNameSkipped)
            ownNameSkipped = true;
        else if (NameMatches(p, s, pos, name)) {
            matched = true;
            matchStart = s;
            matchEnd = pos;
        }
        lastWasName = true;
    }
    if (matched) // written without '=' and value: the name is the value
        return DecodeText(p + matchStart, static_cast<std::size_t>(matchEnd - matchStart));
    return XmlString();
}
