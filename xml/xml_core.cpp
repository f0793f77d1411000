// XML document core: see xml_core.h.
#include "xml/xml_core.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

using Units = std::u16string_view;
using XmlView = std::basic_string_view<XmlChar>;

constexpr int kMaxTextLength = INT_MAX - 1;

bool IsWs(unsigned c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsQuote(unsigned c)
{
    return c == '"' || c == '\'';
}

// A character that ends a name in a start tag, end tag or processing
// instruction as the tokenizer reads it.
bool EndsTokenName(unsigned c)
{
    return IsWs(c) || c == '/' || c == '>';
}

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

// A character that may follow a start tag's '<'.
bool StartsTagName(unsigned c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':' || c == '_' || c >= 0x7B;
}

void AppendAscii(XmlString& out, const char* text)
{
    for (; *text; ++text)
        out.push_back(static_cast<XmlChar>(static_cast<unsigned char>(*text)));
}

void AppendInt(XmlString& out, long long value)
{
    if (value < 0) {
        out.push_back('-');
        value = -value;
    }
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 23);
    while (n > 0)
        out.push_back(static_cast<XmlChar>(digits[--n]));
}

// "%.50s": at most 50 code units of the name.
void AppendName(XmlString& out, const XmlString& name)
{
    out.append(name, 0, std::min<std::size_t>(name.size(), 50));
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

// Named character references: the 252 of HTML 4.01 plus "apos", in 130
// buckets chosen by the sum of the lower-case name's code units modulo 130.
// An entry is one character (48 + name length), four decimal digits of the
// code point and the lower-case name. Where HTML knows a name in two cases,
// both entries are present and the one spelt with capitals stands first.
constexpr int kEntityBuckets = 130;
const char16_t* const kEntityTable[kEntityBuckets] = {
    u"60216oslash60248oslash60217ugrave60249ugrave",  // Oslash oslash Ugrave ugrave
    u"60221yacute60253yacute50937omega50969omega58968lceil",  // Yacute yacute Omega omega lceil
    u"50206icirc50238icirc50916delta50948delta68472weierp",  // Icirc icirc Delta delta weierp
    u"40185sup1",  // sup1
    u"40178sup268970lfloor",  // sup2 lfloor
    u"60164curren40179sup350922kappa50954kappa58212mdash",  // curren sup3 Kappa kappa mdash
    u"59830diams58211ndash",  // diams ndash
    u"68855otimes58969rceil",  // otimes rceil
    u"50212ocirc50244ocirc58482trade50338oelig50339oelig",  // Ocirc ocirc trade OElig oelig
    u"50197aring50229aring50931sigma50963sigma",  // Aring aring Sigma sigma
    u"50180acute68971rfloor50732tilde",  // acute rfloor tilde
    u"68249lsaquo",  // lsaquo
    u"58734infin68201thinsp",  // infin thinsp
    u"50161iexcl",  // iexcl
    u"50219ucirc50251ucirc50920theta50952theta",  // Ucirc ucirc Theta theta
    u"58254oline",  // oline
    u"58260frasl68727lowast",  // frasl lowast
    u"60191iquest59827clubs68250rsaquo",  // iquest clubs rsaquo
    u"50181micro58629crarr",  // micro crarr
    u"58222bdquo",  // bdquo
    u"",
    u"60177plusmn58243prime58242prime",  // plusmn Prime prime
    u"40914beta40946beta",  // Beta beta
    u"",
    u"",
    u"",
    u"50171laquo50215times",  // laquo times
    u"40710circ",  // circ
    u"49001lang",  // lang
    u"40175macr58220ldquo",  // macr ldquo
    u"50163pound40182para48476real",  // pound para real
    u"",
    u"50187raquo58713notin",  // raquo notin
    u"50223szlig50978upsih48773cong",  // szlig upsih cong
    u"58776asymp58801equiv49002rang58218sbquo",  // asymp equiv rang sbquo
    u"50222thorn50254thorn40402fnof48659darr48595darr58221rdquo",  // THORN thorn fnof dArr darr rdquo
    u"40162cent58722minus",  // cent minus
    u"40170ordf58707exist",  // ordf exist
    u"",
    u"40921iota40953iota48660harr48596harr58709empty",  // Iota iota hArr harr empty
    u"",
    u"40167sect40196auml40228auml48226bull48838sube",  // sect Auml auml bull sube
    u"",
    u"48656larr48592larr58853oplus",  // lArr larr oplus
    u"30176deg40186ordm58216lsquo",  // deg ordm lsquo
    u"40160nbsp40203euml40235euml48712isin40039apos",  // nbsp Euml euml isin apos
    u"40918zeta40950zeta",  // Zeta zeta
    u"48719prod38743and48195emsp",  // prod and emsp
    u"30935chi30967chi38745cap48194ensp",  // Chi chi cap ensp
    u"40207iuml40239iuml48658rarr48594rarr48706part48869perp",  // Iuml iuml rArr rarr part perp
    u"38736ang48836nsub58217rsquo",  // ang nsub rsquo
    u"",
    u"48657uarr48593uarr48901sdot",  // uArr uarr sdot
    u"40169copy48364euro",  // copy euro
    u"30919eta30951eta",  // Eta eta
    u"40214ouml40246ouml48839supe",  // Ouml ouml supe
    u"",
    u"",
    u"30174reg30038amp",  // reg amp
    u"48733prop",  // prop
    u"",
    u"30208eth30240eth40220uuml40252uuml30934phi30966phi",  // ETH eth Uuml uuml Phi phi
    u"",
    u"",
    u"",
    u"40376yuml40255yuml",  // Yuml yuml
    u"",
    u"40034quot48204zwnj",  // quot zwnj
    u"38746cup68756there4",  // cup there4
    u"30929rho30961rho38764sim",  // Rho rho sim
    u"30932tau30964tau38834sub",  // Tau tau sub
    u"38747int38206lrm38207rlm",  // int lrm rlm
    u"30165yen30936psi30968psi",  // yen Psi psi
    u"",
    u"30168uml28805ge",  // uml ge
    u"30982piv",  // piv
    u"",
    u"30172not",  // not
    u"",
    u"28804le",  // le
    u"30173shy",  // shy
    u"38721sum28800ne39674loz",  // sum ne loz
    u"",
    u"",
    u"38835sup",  // sup
    u"28715ni",  // ni
    u"",
    u"20928pi20960pi38205zwj",  // Pi pi zwj
    u"",
    u"60923lambda60955lambda20062gt",  // Lambda lambda gt
    u"",
    u"",
    u"60199ccedil60231ccedil",  // Ccedil ccedil
    u"",
    u"20060lt",  // lt
    u"20926xi20958xi28744or",  // Xi xi or
    u"20924mu20956mu",  // Mu mu
    u"20925nu20957nu",  // Nu nu
    u"68225dagger68224dagger",  // Dagger dagger
    u"80977thetasym",  // thetasym
    u"",
    u"",
    u"",
    u"78501alefsym",  // alefsym
    u"",
    u"",
    u"",
    u"60193aacute60225aacute60195atilde60227atilde",  // Aacute aacute Atilde atilde
    u"",
    u"60247divide70927omicron70959omicron",  // divide Omicron omicron
    u"60192agrave60224agrave",  // Agrave agrave
    u"60201eacute60233eacute60962sigmaf",  // Eacute eacute sigmaf
    u"70917epsilon70949epsilon",  // Epsilon epsilon
    u"",
    u"60200egrave60232egrave",  // Egrave egrave
    u"60205iacute60237iacute",  // Iacute iacute
    u"",
    u"",
    u"60204igrave60236igrave68230hellip",  // Igrave igrave hellip
    u"60166brvbar",  // brvbar
    u"60209ntilde60241ntilde68704forall58711nabla69824spades",  // Ntilde ntilde forall nabla spades
    u"60183middot60189frac1260211oacute60243oacute60213otilde60245otilde",  // middot frac12 Oacute oacute Otilde otilde
    u"",
    u"50184cedil60188frac14",  // cedil frac14
    u"50194acirc50226acirc50198aelig50230aelig60210ograve60242ograve",  // Acirc acirc AElig aelig Ograve ograve
    u"60190frac3450915gamma50947gamma58465image58730radic",  // frac34 Gamma gamma image radic
    u"60352scaron60353scaron",  // Scaron scaron
    u"60218uacute60250uacute69829hearts",  // Uacute uacute hearts
    u"50202ecirc50234ecirc50913alpha50945alpha70933upsilon70965upsilon",  // Ecirc ecirc Alpha alpha Upsilon upsilon
    u"68240permil",  // permil
};

long LookupEntity(const char* name, int length, bool hasCapital)
{
    unsigned sum = 0;
    for (int i = 0; i < length; ++i)
        sum += static_cast<unsigned char>(name[i]);
    Units bucket(kEntityTable[sum % kEntityBuckets]);
    long found = 0;
    std::size_t k = 0;
    while (k + 5 <= bucket.size()) {
        int entryLength = static_cast<int>(bucket[k]) - 48;
        if (entryLength <= 0 || k + 5 + static_cast<std::size_t>(entryLength) > bucket.size())
            break;
        bool same = entryLength == length;
        for (int i = 0; same && i < length; ++i)
            same = bucket[k + 5 + i] == static_cast<char16_t>(name[i]);
        if (same) {
            long value = 0;
            for (std::size_t d = 1; d <= 4; ++d)
                value = value * 10 + (bucket[k + d] - u'0');
            // A name written all in lower case selects the lower-case entity
            // of a pair (the second entry); any other spelling takes the first.
            if (found == 0) {
                found = value;
                if (hasCapital)
                    return found;
            } else {
                return value;
            }
        }
        k += 5 + static_cast<std::size_t>(entryLength);
    }
    return found;
}

void AppendCodePoint(XmlString& out, unsigned long cp)
{
    if (cp >= 0x10000) {
        out.push_back(static_cast<XmlChar>(0xD800 | (((cp - 0x10000) >> 10) & 0x3FF)));
        out.push_back(static_cast<XmlChar>(0xDC00 | (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<XmlChar>(cp));
    }
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
// Tokenizer

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

// ---------------------------------------------------------------------------
// Cursor

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

// ---------------------------------------------------------------------------
// Reference decoding

XmlString CXmlDoc::DecodeText(const XmlChar* text, std::size_t length)
{
    XmlString out;
    if (text == nullptr)
        return out;
    out.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const XmlChar c = text[i];
        if (c != '&') {
            out.push_back(c);
            ++i;
            continue;
        }
        // Up to 9 ASCII characters before ';', A-Z folded to lower case.
        char name[10];
        int nameLength = 0;
        bool hasCapital = false;
        std::size_t j = i + 1;
        while (j < length && nameLength < 9) {
            unsigned u = text[j];
            if (u >= 0x80 || u == ';')
                break;
            if (u >= 'A' && u <= 'Z') {
                u += 'a' - 'A';
                hasCapital = true;
            }
            name[nameLength++] = static_cast<char>(u);
            ++j;
        }
        name[nameLength] = 0;
        if (j >= length || text[j] != ';') {
            out.push_back('&');
            ++i;
            continue;
        }
        long value = 0;
        if (nameLength > 0 && name[0] == '#') {
            const char* digits = name + 1;
            int base = 10;
            if (*digits == 'x') {
                base = 16;
                ++digits;
            }
            value = std::strtol(digits, nullptr, base);
        } else {
            value = LookupEntity(name, nameLength, hasCapital);
        }
        // Zero (unknown name, no digits) and values that are no Unicode code
        // point leave the reference as written.
        if (value <= 0 || value > 0x10FFFF) {
            out.push_back('&');
            ++i;
            continue;
        }
        AppendCodePoint(out, static_cast<unsigned long>(value));
        i = j + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Byte decoding

XmlString CXmlDoc::DecodeUtf8(const unsigned char* bytes, std::size_t size)
{
    XmlString out;
    if (bytes == nullptr)
        return out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        const unsigned b = bytes[i];
        if (b == 0)
            break;
        if (b < 0x80) {
            out.push_back(static_cast<XmlChar>(b));
            ++i;
            continue;
        }
        std::size_t extra;
        unsigned long cp;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            // A stray continuation byte or 11111xxx.
            out.push_back('?');
            ++i;
            continue;
        }
        if (i + extra >= size)
            break; // cut off by the end of the bytes: dropped
        ++i;
        bool valid = true;
        for (std::size_t k = 0; k < extra; ++k) {
            if (!(bytes[i] & 0x80)) {
                valid = false; // resume at the byte that is no continuation
                break;
            }
            cp = (cp << 6) | (bytes[i] & 0x3F);
            ++i;
        }
        if (!valid) {
            out.push_back('?');
            continue;
        }
        AppendCodePoint(out, cp);
    }
    return out;
}

unsigned CXmlDoc::DetectCodePage(const unsigned char* bytes, std::size_t size)
{
    const XmlString prefix = DecodeUtf8(bytes, std::min<std::size_t>(size, 100));
    const std::size_t lt = prefix.find(static_cast<XmlChar>('<'));
    if (lt == XmlString::npos || lt + 1 >= prefix.size() || prefix[lt + 1] != '?')
        return XML_CODEPAGE_UTF8;
    std::size_t close = XmlString::npos;
    for (std::size_t k = lt + 1; k + 1 < prefix.size(); ++k) {
        if (prefix[k] == '?' && prefix[k + 1] == '>') {
            close = k;
            break;
        }
    }
    if (close == XmlString::npos)
        return XML_CODEPAGE_UTF8;

    CXmlDoc declaration(prefix.substr(lt, close + 2 - lt));
    declaration.FindNode(0);
    static const XmlChar kEncoding[] = {'e', 'n', 'c', 'o', 'd', 'i', 'n', 'g', 0};
    const XmlString encoding = declaration.GetAttrib(kEncoding);
    if (encoding.empty())
        return XML_CODEPAGE_UTF8;
    static const char kUtf8[] = "UTF-8";
    for (std::size_t k = 0; k < 5; ++k) {
        unsigned c = k < encoding.size() ? encoding[k] : 0;
        if (c >= 'a' && c <= 'z')
            c -= 'a' - 'A';
        if (c != static_cast<unsigned char>(kUtf8[k]))
            return XML_CODEPAGE_ANSI;
    }
    return XML_CODEPAGE_UTF8;
}
