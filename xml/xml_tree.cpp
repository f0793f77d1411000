// The one-pass tree builder: element records, their segments, and the parse
// that links start and end tags into the element tree. See xml_core.h.
#include "xml/xml_internal.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

using xmlcore::AppendAscii;
using xmlcore::AppendInt;

namespace {

using XmlView = std::basic_string_view<XmlChar>;

constexpr int kMaxTextLength = INT_MAX - 1;

// "%.50s": at most 50 code units of the name.
void AppendName(XmlString& out, const XmlString& name)
{
    out.append(name, 0, std::min<std::size_t>(name.size(), 50));
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and records

CXmlDoc::CXmlDoc()
{
    SetDoc(static_cast<const XmlChar*>(nullptr));
}

CXmlDoc::CXmlDoc(const XmlChar* text)
{
    SetDoc(text);
}

CXmlDoc::CXmlDoc(const XmlString& text)
{
    SetDoc(text);
}

CXmlDoc::CXmlDoc(CXmlDoc&& other) noexcept
{
    *this = std::move(other);
}

CXmlDoc& CXmlDoc::operator=(CXmlDoc&& other) noexcept
{
    if (this == &other)
        return *this;
    m_doc = std::move(other.m_doc);
    m_result = std::move(other.m_result);
    m_loadMessage = std::move(other.m_loadMessage);
    m_segments = std::move(other.m_segments);
    other.m_doc.clear();
    other.m_result.clear();
    other.m_loadMessage.clear();
    other.m_segments.clear();
    m_parent = std::exchange(other.m_parent, 0);
    m_elem = std::exchange(other.m_elem, 0);
    m_child = std::exchange(other.m_child, 0);
    m_nodeKind = std::exchange(other.m_nodeKind, 0);
    m_nodeOffset = std::exchange(other.m_nodeOffset, 0);
    m_nodeLength = std::exchange(other.m_nodeLength, 0);
    m_nextFree = std::exchange(other.m_nextFree, 0);
    m_capacity = std::exchange(other.m_capacity, 0);
    return *this;
}

bool CXmlDoc::SetDoc(const XmlChar* text)
{
    if (text)
        m_doc.assign(text);
    else
        m_doc.clear();
    m_result.clear();
    m_loadMessage.clear();
    return Parse();
}

bool CXmlDoc::SetDoc(const XmlString& text)
{
    m_doc = text;
    m_result.clear();
    m_loadMessage.clear();
    return Parse();
}

const CXmlDoc::ElemRecord* CXmlDoc::GetRecord(int index) const
{
    if (index < 0 || index >= m_nextFree)
        return nullptr;
    return &Rec(index);
}

void CXmlDoc::ResetRecords(int capacity)
{
    m_segments.clear();
    m_capacity = 0;
    m_nextFree = 1;
    GrowRecords(std::max(capacity, 1));
    Rec(0) = ElemRecord{};
    Rec(0).length = TextLength();
}

void CXmlDoc::GrowRecords(int capacity)
{
    while (m_capacity < capacity) {
        const int full = static_cast<int>(m_segments.size()) - 1;
        const int lastSize = m_segments.empty() ? SEGMENT_SIZE : m_capacity - full * SEGMENT_SIZE;
        if (lastSize < SEGMENT_SIZE) {
            // Only the last, partial segment is ever reallocated.
            const int newSize = std::min(SEGMENT_SIZE, capacity - full * SEGMENT_SIZE);
            std::unique_ptr<ElemRecord[]> seg(new ElemRecord[newSize]);
            std::copy(m_segments.back().get(), m_segments.back().get() + lastSize, seg.get());
            m_segments.back() = std::move(seg);
            m_capacity = full * SEGMENT_SIZE + newSize;
        } else {
            const int newSize = std::min(SEGMENT_SIZE, capacity - m_capacity);
            m_segments.emplace_back(new ElemRecord[newSize]);
            m_capacity += newSize;
        }
    }
}

int CXmlDoc::NewRecord()
{
    if (m_nextFree >= m_capacity) {
        long long grown = static_cast<long long>(m_capacity) + m_capacity / 2;
        GrowRecords(static_cast<int>(std::min<long long>(std::max<long long>(grown, m_nextFree + 1), INT_MAX)));
    }
    const int index = m_nextFree++;
    Rec(index) = ElemRecord{};
    return index;
}

void CXmlDoc::AppendChild(int parent, int child)
{
    ElemRecord& p = Rec(parent);
    if (p.firstChild == 0) {
        p.firstChild = child;
        Rec(child).flags |= FirstSibling;
        Rec(child).prevSibling = child;
        return;
    }
    const int first = p.firstChild;
    const int last = Rec(first).prevSibling;
    Rec(last).nextSibling = child;
    Rec(child).prevSibling = last;
    Rec(first).prevSibling = child;
}

void CXmlDoc::ResetCursor()
{
    m_parent = m_elem = m_child = 0;
    m_nodeKind = m_nodeOffset = m_nodeLength = 0;
}

void CXmlDoc::RecordProblem(const XmlString& message)
{
    if (m_result.empty())
        m_result = message;
}

// ---------------------------------------------------------------------------
// Tree builder

// Closes open[from..] as not ended, innermost first. Each element keeps only
// its start tag; its children move up to its parent, directly after it and
// in order, and its HasFault flag moves with them. Because every element on
// the stack is the last child of the one below it, closing them in a row
// flattens the chain below open[from] into the parent of open[from]; this is
// done in one walk so that each moved record is touched once.
void CXmlDoc::CloseNotEnded(std::vector<OpenTag>& open, std::size_t from, const XmlString* endTagName,
                            int endTagOffset)
{
    if (from >= open.size())
        return;
    Rec(0).flags |= IllFormed;

    const OpenTag& innermost = open.back();
    XmlString msg;
    if (endTagName) {
        AppendAscii(msg, "End tag '");
        AppendName(msg, *endTagName);
        AppendAscii(msg, "' at offset ");
        AppendInt(msg, endTagOffset);
        AppendAscii(msg, " does not match start tag '");
        AppendName(msg, innermost.name);
        AppendAscii(msg, "' at offset ");
        AppendInt(msg, Rec(innermost.record).start);
    } else {
        AppendAscii(msg, "Element '");
        AppendName(msg, innermost.name);
        AppendAscii(msg, "' at offset ");
        AppendInt(msg, Rec(innermost.record).start);
        AppendAscii(msg, " not ended");
    }
    RecordProblem(msg);

    const int outer = open[from].record;
    const int target = Rec(outer).parent;
    bool fault = false;
    int last = outer; // the outermost closed element is its parent's last child
    for (std::size_t j = from; j < open.size(); ++j) {
        ElemRecord& e = Rec(open[j].record);
        e.length = e.startTagLength;
        e.endTagLength = 0;
        e.flags |= NotEnded;
        if (e.flags & HasFault) {
            fault = true;
            e.flags &= ~HasFault;
        }
        const int first = e.firstChild;
        if (first == 0)
            continue;
        e.firstChild = 0;
        const int childLast = Rec(first).prevSibling;
        for (int c = first; c != 0; c = Rec(c).nextSibling) {
            Rec(c).parent = target;
            Rec(c).flags &= ~FirstSibling;
        }
        Rec(last).nextSibling = first;
        Rec(first).prevSibling = last;
        last = childLast;
    }
    Rec(last).nextSibling = 0;
    Rec(Rec(target).firstChild).prevSibling = last;
    if (fault)
        Rec(target).flags |= HasFault;
    open.resize(from);
}

bool CXmlDoc::Parse()
{
    m_result.clear();
    ResetCursor();
    const std::size_t size = m_doc.size();
    const int capacity = static_cast<int>(std::min<std::size_t>(size, kMaxTextLength) / 64 + 8);
    if (size > static_cast<std::size_t>(kMaxTextLength)) {
        // Offsets are 32-bit: such a text is not parsed at all.
        m_doc.clear();
        ResetRecords(8);
        Rec(0).flags |= IllFormed;
        AppendAscii(m_result, "Document too large");
    } else {
        ResetRecords(capacity);
    }

    if (m_doc.empty()) {
        if (m_result.empty())
            AppendAscii(m_result, "Empty document");
    } else {
        TokenState state;
        state.text = m_doc.data();
        state.length = TextLength();
        Token token;
        std::vector<OpenTag> open;
        open.reserve(6);
        bool atEnd = false;
        while (!atEnd) {
            NextToken(state, token);
            const int parent = open.empty() ? 0 : open.back().record;
            switch (token.kind) {
            case XML_NODE_ELEMENT: {
                const int index = NewRecord();
                ElemRecord& r = Rec(index);
                r.parent = parent;
                r.start = token.start;
                r.startTagLength = token.length;
                r.length = token.length;
                r.level = static_cast<std::int32_t>(open.size());
                AppendChild(parent, index);
                if (!(token.flags & EmptyElement)) {
                    if (open.size() == open.capacity())
                        open.reserve(2 * open.size() + 6);
                    open.push_back(OpenTag{std::move(token.text), index});
                }
                break;
            }
            case XML_TOKEN_END_TAG: {
                const XmlView name(m_doc.data() + state.endNameStart,
                                   static_cast<std::size_t>(state.endNameEnd - state.endNameStart));
                std::size_t match = open.size();
                while (match > 0) {
                    const XmlString& openName = open[match - 1].name;
                    if (XmlView(openName) == name)
                        break;
                    --match;
                }
                const XmlString endName(m_doc, static_cast<std::size_t>(state.endNameStart), name.size());
                if (match == 0) {
                    Rec(0).flags |= IllFormed;
                    Rec(parent).flags |= HasFault;
                    XmlString msg;
                    AppendAscii(msg, "No start tag for end tag '");
                    AppendName(msg, endName);
                    AppendAscii(msg, "' at offset ");
                    AppendInt(msg, token.start);
                    RecordProblem(msg);
                    break;
                }
                const std::size_t m = match - 1;
                CloseNotEnded(open, m + 1, &endName, token.start);
                ElemRecord& r = Rec(open[m].record);
                r.length = token.start + token.length - r.start;
                r.endTagLength = token.length;
                open.pop_back();
                break;
            }
            case XML_TOKEN_FAULT:
                Rec(0).flags |= IllFormed;
                Rec(parent).flags |= HasFault;
                RecordProblem(token.text);
                break;
            case XML_TOKEN_END_OF_TEXT:
                CloseNotEnded(open, 0, nullptr, 0);
                atEnd = true;
                break;
            default:
                // Text, whitespace, comments, CDATA, processing instructions
                // and document types make no record; node iteration finds
                // them again.
                break;
            }
        }

        const int first = Rec(0).firstChild;
        if (first == 0) {
            m_result.clear();
            AppendAscii(m_result, "No root element");
        } else if (Rec(first).nextSibling != 0) {
            m_result.clear();
            AppendAscii(m_result, "Root element has sibling");
        }
    }

    if (!m_loadMessage.empty()) {
        XmlString combined = m_loadMessage;
        if (!m_result.empty()) {
            AppendAscii(combined, ", ");
            combined += m_result;
        }
        m_result = std::move(combined);
    }

    const int first = Rec(0).firstChild;
    return !(Rec(0).flags & IllFormed) && first != 0 && Rec(first).nextSibling == 0;
}
