// The tokenizer: splits the text into tags, text runs, comments, CDATA
// sections, processing instructions and document types. See xml_core.h.
#include "xml/xml_internal.h"

using xmlcore::AppendAscii;
using xmlcore::AppendInt;
using xmlcore::IsQuote;
using xmlcore::IsWs;

namespace {

// A character that ends a name in a start tag, end tag or processing
// instruction as the tokenizer reads it.
bool EndsTokenName(unsigned c)
{
    return IsWs(c) || c == '/' || c == '>';
}

// A character that may follow a start tag's '<'.
bool StartsTagName(unsigned c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':' || c == '_' || c >= 0x7B;
}

XmlString IncorrectMessage(const char* what, int offset)
{
    XmlString msg;
    AppendAscii(msg, "Incorrect ");
    AppendAscii(msg, what);
    AppendAscii(msg, " at offset ");
    AppendInt(msg, offset);
    return msg;
}

XmlString UnterminatedMessage(const char* what, int offset)
{
    XmlString msg;
    AppendAscii(msg, what);
    AppendAscii(msg, " at offset ");
    AppendInt(msg, offset);
    AppendAscii(msg, " unterminated");
    return msg;
}

// Index of the first '>' at or after from whose closing string (the
// characters before it) matches close; -1 when the text ends first. A '>'
// closer to the start of the text than the closing string is long never
// matches.
int FindClose(const XmlChar* p, int n, int from, const char* close)
{
    int closeLen = 0;
    while (close[closeLen])
        ++closeLen;
    for (int i = from; i < n; ++i) {
        if (p[i] != '>')
            continue;
        if (i < closeLen - 1)
            continue;
        bool ok = true;
        for (int k = 0; k < closeLen - 1; ++k) {
            if (p[i - (closeLen - 1) + k] != static_cast<XmlChar>(close[k])) {
                ok = false;
                break;
            }
        }
        if (ok)
            return i;
    }
    return -1;
}

// Index of the first '>' at or after from outside single- or double-quoted
// strings; -1 when the text ends first.
int FindCloseQuoted(const XmlChar* p, int n, int from)
{
    XmlChar quote = 0;
    for (int i = from; i < n; ++i) {
        XmlChar c = p[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (IsQuote(c)) {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return -1;
}

// Markup nested inside a document type's internal subset, starting at the
// '<' at i: returns the index of its closing '>' or -1 when the text ends.
int SkipNestedMarkup(const XmlChar* p, int n, int i)
{
    if (i + 1 < n && p[i + 1] == '?')
        return FindClose(p, n, i + 2, "?>");
    if (i + 3 < n && p[i + 1] == '!' && p[i + 2] == '-' && p[i + 3] == '-')
        return FindClose(p, n, i + 4, "-->");
    if (i + 1 < n && p[i + 1] == '!')
        return FindCloseQuoted(p, n, i + 2);
    return FindClose(p, n, i + 1, ">");
}

} // namespace

void CXmlDoc::NextToken(TokenState& state, Token& token)
{
    const XmlChar* p = state.text;
    const int n = state.length;
    const int start = state.pos;
    token.flags = 0;
    token.text.clear();

    if (start >= n || p == nullptr) {
        token.kind = XML_TOKEN_END_OF_TEXT;
        token.start = 0;
        token.length = 0;
        return;
    }
    token.start = start;

    // Ends the token with its last character at index last.
    auto finish = [&](int kind, int last) {
        token.kind = kind;
        token.length = last - start + 1;
        state.pos = last + 1;
    };
    // The text ended inside the token.
    auto unterminated = [&](const char* what) {
        token.text = UnterminatedMessage(what, start);
        finish(XML_TOKEN_FAULT, n - 1);
    };
    // A faulty token ends at its '>' or just before the next '<'.
    auto faulty = [&](const char* what, int from) {
        for (int i = from; i < n; ++i) {
            if (p[i] == '>') {
                token.text = IncorrectMessage(what, start);
                finish(XML_TOKEN_FAULT, i);
                return;
            }
            if (p[i] == '<') {
                token.text = IncorrectMessage(what, start);
                finish(XML_TOKEN_FAULT, i - 1);
                return;
            }
        }
        unterminated("tag");
    };

    const unsigned c0 = p[start];
    if (c0 != '<') {
        int kind = IsWs(c0) ? XML_NODE_WHITESPACE : XML_NODE_TEXT;
        int i = start + 1;
        for (; i < n && p[i] != '<'; ++i) {
            if (kind == XML_NODE_WHITESPACE && !IsWs(p[i]))
                kind = XML_NODE_TEXT;
        }
        finish(kind, i - 1);
        return;
    }

    if (start + 1 >= n) {
        unterminated("tag");
        return;
    }
    const unsigned c1 = p[start + 1];

    if (c1 == '/') {
        // End tag: its name's bounds stay in the state.
        int nameEnd = start + 2;
        while (nameEnd < n && !EndsTokenName(p[nameEnd]))
            ++nameEnd;
        state.endNameStart = start + 2;
        state.endNameEnd = nameEnd;
        const int close = FindClose(p, n, start + 2, ">");
        if (close < 0)
            unterminated("Element end tag");
        else
            finish(XML_TOKEN_END_TAG, close);
        return;
    }

    if (c1 == '?') {
        int nameEnd = start + 2;
        while (nameEnd < n && !EndsTokenName(p[nameEnd]))
            ++nameEnd;
        token.text.assign(p + start + 2, p + nameEnd);
        const int close = FindClose(p, n, start + 2, "?>");
        if (close < 0) {
            unterminated("Processing instruction");
            return;
        }
        finish(XML_NODE_PROCESSING_INSTRUCTION, close);
        return;
    }

    if (c1 == '!') {
        if (start + 2 >= n) {
            unterminated("tag");
            return;
        }
        const unsigned c2 = p[start + 2];
        if (c2 == '-') {
            if (start + 3 >= n) {
                unterminated("tag");
                return;
            }
            if (p[start + 3] != '-') {
                faulty("comment tag", start + 3);
                return;
            }
            const int close = FindClose(p, n, start + 4, "-->");
            if (close < 0)
                unterminated("Comment");
            else
                finish(XML_NODE_COMMENT, close);
            return;
        }
        if (c2 == '[') {
            if (start + 3 >= n) {
                unterminated("tag");
                return;
            }
            if (p[start + 3] != 'C') {
                faulty("tag", start + 3);
                return;
            }
            const int close = FindClose(p, n, start + 4, "]]>");
            if (close < 0)
                unterminated("CDATA Section");
            else
                finish(XML_NODE_CDATA_SECTION, close);
            return;
        }
        if (c2 == 'D') {
            // Document type: runs past the '>' of markup nested in it and
            // ends at the first '>' outside nested markup. Quotes are not
            // recognised at its own level.
            for (int i = start + 3; i < n; ++i) {
                if (p[i] == '>') {
                    finish(XML_NODE_DOCUMENT_TYPE, i);
                    return;
                }
                if (p[i] == '<') {
                    const int close = SkipNestedMarkup(p, n, i);
                    if (close < 0)
                        break;
                    i = close;
                }
            }
            unterminated("Doctype");
            return;
        }
        if (c2 != 'E' && c2 != 'A' && c2 != 'N') {
            faulty("! tag", start + 2);
            return;
        }
        const int close = FindCloseQuoted(p, n, start + 2);
        if (close < 0)
            unterminated("Doctype");
        else
            finish(XML_NODE_DOCUMENT_TYPE, close);
        return;
    }

    if (!StartsTagName(c1)) {
        faulty("tag name character", start + 1);
        return;
    }

    // Start tag.
    int nameEnd = start + 1;
    while (nameEnd < n && !EndsTokenName(p[nameEnd]))
        ++nameEnd;
    token.text.assign(p + start + 1, p + nameEnd);

    // Quotes count only where an attribute value may begin: '=' arms,
    // whitespace keeps it armed, any other character (or a second '=')
    // disarms.
    bool armed = false;
    XmlChar quote = 0;
    for (int i = start + 1; i < n; ++i) {
        const XmlChar c = p[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '>') {
            // Empty when "/>" follows whitespace, a quote or the name.
            if (p[i - 1] == '/') {
                const int slash = i - 1;
                if (slash == nameEnd || IsWs(p[slash - 1]) || IsQuote(p[slash - 1]))
                    token.flags |= EmptyElement;
            }
            finish(XML_NODE_ELEMENT, i);
            return;
        }
        if (c == '=')
            armed = !armed;
        else if (IsWs(c))
            continue;
        else if (armed && IsQuote(c)) {
            quote = c;
            armed = false;
        } else
            armed = false;
    }
    unterminated("Element tag");
}
