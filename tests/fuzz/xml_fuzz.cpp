// libFuzzer target for the XML document core. An input that starts with the
// bytes FF FE is read as UTF-16LE code units after them; any other input is
// read as UTF-8 through the core's own decoder. The document is parsed, tokenized from its start, and
// walked completely with the cursor operations; structural invariants that
// must hold for any text are checked along the way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "xml/xml_core.h"

namespace {

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "invariant failed: %s (line %d)\n", #cond, __LINE__); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

XmlString FromAscii(const char* s)
{
    XmlString out;
    for (; *s; ++s)
        out.push_back(static_cast<XmlChar>(*s));
    return out;
}

// Tokens cover the text without gaps or overlaps.
void CheckTokens(const XmlString& text)
{
    CXmlDoc::TokenState state;
    state.text = text.data();
    state.length = static_cast<int>(text.size());
    CXmlDoc::Token token;
    int expectedStart = 0;
    for (;;) {
        CXmlDoc::NextToken(state, token);
        if (token.kind == CXmlDoc::XML_TOKEN_END_OF_TEXT)
            break;
        FUZZ_CHECK(token.start == expectedStart);
        FUZZ_CHECK(token.length >= 1);
        FUZZ_CHECK(token.start + token.length <= state.length);
        FUZZ_CHECK(state.pos == token.start + token.length);
        FUZZ_CHECK((token.kind == CXmlDoc::XML_TOKEN_FAULT) == !token.text.empty() ||
                   token.kind == CXmlDoc::XML_NODE_ELEMENT ||
                   token.kind == CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION);
        expectedStart = state.pos;
    }
    FUZZ_CHECK(expectedStart == state.length);
}

// Every record lies inside the text, and every record but the document's
// is in exactly one sibling chain, with consistent back links.
void CheckRecords(const CXmlDoc& doc)
{
    const int count = doc.GetRecordCount();
    const int length = static_cast<int>(doc.GetDoc().size());
    FUZZ_CHECK(doc.GetRecord(count) == nullptr);
    FUZZ_CHECK(doc.GetRecord(0)->length == length);
    std::vector<int> seen(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const CXmlDoc::ElemRecord* r = doc.GetRecord(i);
        FUZZ_CHECK(r != nullptr);
        if (i > 0) {
            FUZZ_CHECK(r->start >= 0 && r->start < length);
            FUZZ_CHECK(doc.GetDoc()[static_cast<std::size_t>(r->start)] == '<');
            FUZZ_CHECK(r->startTagLength >= 2 && r->length >= r->startTagLength);
            FUZZ_CHECK(r->start + r->length <= length);
            FUZZ_CHECK(r->endTagLength == 0 || r->length > r->startTagLength);
            FUZZ_CHECK(r->parent >= 0 && r->parent < count && r->parent != i);
        }
        if (r->firstChild == 0)
            continue;
        int last = 0;
        int prev = 0;
        int steps = 0;
        for (int c = r->firstChild; c != 0; c = doc.GetRecord(c)->nextSibling) {
            FUZZ_CHECK(c > 0 && c < count);
            FUZZ_CHECK(++steps < count);
            const CXmlDoc::ElemRecord* child = doc.GetRecord(c);
            FUZZ_CHECK(child->parent == i);
            FUZZ_CHECK(((child->flags & CXmlDoc::FirstSibling) != 0) == (prev == 0));
            if (prev != 0) {
                FUZZ_CHECK(child->prevSibling == prev);
                // Siblings follow each other in the text.
                const CXmlDoc::ElemRecord* before = doc.GetRecord(prev);
                FUZZ_CHECK(before->start + before->length <= child->start);
            }
            ++seen[static_cast<std::size_t>(c)];
            prev = c;
            last = c;
        }
        FUZZ_CHECK(doc.GetRecord(r->firstChild)->prevSibling == last);
    }
    for (int i = 1; i < count; ++i)
        FUZZ_CHECK(seen[static_cast<std::size_t>(i)] == 1);
}

// Depth-first walk with FindNode over every level. At each level the
// elements met must be exactly the parent's sibling chain.
void WalkNodes(CXmlDoc& doc, const XmlString& probeName)
{
    static const XmlString kNames[] = {FromAscii("id"), FromAscii("encoding"), FromAscii("a"), XmlString()};
    std::vector<std::vector<int>> levels(1);
    std::vector<int> parents(1, 0);
    for (int budget = 0; budget < 200000; ++budget) {
        const int kind = doc.FindNode(0);
        if (kind != 0) {
            const XmlString tag = doc.GetTagName();
            for (const XmlString& name : kNames)
                doc.GetAttrib(name);
            doc.GetAttrib(probeName);
            if (!tag.empty())
                doc.GetAttrib(tag);
            FUZZ_CHECK(doc.GetNodeKind() == kind);
            if (kind == CXmlDoc::XML_NODE_ELEMENT) {
                const int elem = doc.GetCursorElement();
                FUZZ_CHECK(doc.GetRecord(elem) != nullptr);
                FUZZ_CHECK(doc.GetRecord(elem)->parent == parents.back());
                levels.back().push_back(elem);
                FUZZ_CHECK(doc.IntoElem());
                levels.emplace_back();
                parents.push_back(elem);
            } else {
                FUZZ_CHECK(doc.GetNodeLength() > 0);
                FUZZ_CHECK(!doc.IntoElem());
            }
            continue;
        }
        // The level is done: compare with the chain.
        std::vector<int> chain;
        for (int c = doc.GetRecord(parents.back())->firstChild; c != 0; c = doc.GetRecord(c)->nextSibling)
            chain.push_back(c);
        FUZZ_CHECK(chain == levels.back());
        levels.pop_back();
        parents.pop_back();
        if (!doc.OutOfElem()) {
            FUZZ_CHECK(parents.empty());
            return;
        }
        FUZZ_CHECK(!parents.empty());
    }
}

// Depth-first walk with FindElem: reaches every record once.
int WalkElems(CXmlDoc& doc)
{
    int visited = 0;
    for (int budget = 0; budget < 200000; ++budget) {
        if (doc.FindElem()) {
            ++visited;
            doc.GetTagName();
            FUZZ_CHECK(doc.IntoElem());
            continue;
        }
        if (!doc.OutOfElem())
            break;
    }
    return visited;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const unsigned codePage = CXmlDoc::DetectCodePage(data, size);
    FUZZ_CHECK(codePage == CXmlDoc::XML_CODEPAGE_ANSI || codePage == CXmlDoc::XML_CODEPAGE_UTF8);

    XmlString text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        text.reserve(size / 2);
        for (size_t i = 2; i + 1 < size; i += 2)
            text.push_back(static_cast<XmlChar>(data[i] | (data[i + 1] << 8)));
    } else {
        text = CXmlDoc::DecodeUtf8(data, size);
        FUZZ_CHECK(text.size() <= size);
    }

    const XmlString decoded = CXmlDoc::DecodeText(text.data(), text.size());
    FUZZ_CHECK(decoded.size() <= text.size());

    CheckTokens(text);

    CXmlDoc doc(text);
    const bool wellFormed = !(doc.GetRecord(0)->flags & CXmlDoc::IllFormed);
    const bool parsed = doc.Parse();
    FUZZ_CHECK(parsed == (wellFormed && doc.GetRecord(0)->firstChild != 0 &&
                          doc.GetRecord(doc.GetRecord(0)->firstChild)->nextSibling == 0));
    FUZZ_CHECK(parsed == doc.GetResult().empty());
    CheckRecords(doc);

    // A short name taken from the text itself, to hit real attributes.
    XmlString probe;
    for (size_t i = 0; i < text.size() && probe.size() < 4; ++i) {
        if (text[i] == '=')
            break;
        if (text[i] > ' ' && text[i] != '<')
            probe.push_back(text[i]);
    }
    WalkNodes(doc, probe);

    CXmlDoc again(text);
    FUZZ_CHECK(WalkElems(again) == again.GetRecordCount() - 1);
    return 0;
}
