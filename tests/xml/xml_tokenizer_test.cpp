// Tokenizer: token kinds and bounds, fault messages and their offsets.
#include <gtest/gtest.h>

#include <vector>

#include "tests/xml/xml_test_util.h"

namespace {

struct Tok
{
    int kind;
    int start;
    int length;
};

class XmlTokenizer : public ::testing::Test
{
protected:
    std::vector<Tok> Tokens(std::u16string_view text)
    {
        m_text = XS(text);
        CXmlDoc::TokenState state;
        state.text = m_text.data();
        state.length = static_cast<int>(m_text.size());
        std::vector<Tok> out;
        CXmlDoc::Token token;
        for (int guard = 0; guard < 1000; ++guard) {
            CXmlDoc::NextToken(state, token);
            if (token.kind == CXmlDoc::XML_TOKEN_END_OF_TEXT)
                break;
            out.push_back({token.kind, token.start, token.length});
            m_last = token;
            m_lastState = state;
        }
        return out;
    }

    // The first token of text.
    CXmlDoc::Token First(std::u16string_view text)
    {
        m_text = XS(text);
        CXmlDoc::TokenState state;
        state.text = m_text.data();
        state.length = static_cast<int>(m_text.size());
        CXmlDoc::Token token;
        CXmlDoc::NextToken(state, token);
        m_lastState = state;
        return token;
    }

    XmlString m_text;
    CXmlDoc::Token m_last;
    CXmlDoc::TokenState m_lastState;
};

bool operator==(const Tok& a, const Tok& b)
{
    return a.kind == b.kind && a.start == b.start && a.length == b.length;
}

void PrintTo(const Tok& t, std::ostream* os)
{
    *os << "{kind " << t.kind << ", start " << t.start << ", length " << t.length << "}";
}

TEST_F(XmlTokenizer, SplitsEveryKindOfMarkup)
{
    // 0         1         2         3         4         5
    // 0123456789012345678901234567890123456789012345678901234
    // <?p a?>\n<!--c--><r x="1">t <![CDATA[<>]]><e/></r>
    const auto tokens = Tokens(u"<?p a?>\n<!--c--><r x=\"1\">t <![CDATA[<>]]><e/></r>");
    const std::vector<Tok> expected = {
        {CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION, 0, 7},
        {CXmlDoc::XML_NODE_WHITESPACE, 7, 1},
        {CXmlDoc::XML_NODE_COMMENT, 8, 8},
        {CXmlDoc::XML_NODE_ELEMENT, 16, 9},
        {CXmlDoc::XML_NODE_TEXT, 25, 2},
        {CXmlDoc::XML_NODE_CDATA_SECTION, 27, 14},
        {CXmlDoc::XML_NODE_ELEMENT, 41, 4},
        {CXmlDoc::XML_TOKEN_END_TAG, 45, 4},
    };
    EXPECT_EQ(tokens, expected);
}

TEST_F(XmlTokenizer, WhitespaceBecomesTextAtFirstOtherCharacter)
{
    EXPECT_EQ(Tokens(u" \t\r\n<a/>")[0], (Tok{CXmlDoc::XML_NODE_WHITESPACE, 0, 4}));
    EXPECT_EQ(Tokens(u" \t x \n<a/>")[0], (Tok{CXmlDoc::XML_NODE_TEXT, 0, 6}));
    // Text reaching the end of the text is not a fault.
    EXPECT_EQ(Tokens(u"<a/>tail"), (std::vector<Tok>{{1, 0, 4}, {CXmlDoc::XML_NODE_TEXT, 4, 4}}));
}

TEST_F(XmlTokenizer, EndOfTextHasNoBounds)
{
    CXmlDoc::Token token = First(u"");
    EXPECT_EQ(token.kind, CXmlDoc::XML_TOKEN_END_OF_TEXT);
    EXPECT_EQ(token.start, 0);
    EXPECT_EQ(token.length, 0);
}

TEST_F(XmlTokenizer, StartTagNameIsCopiedEndTagNameIsKeptAsBounds)
{
    CXmlDoc::Token token = First(u"<ns:item\tkey=\"v\">");
    EXPECT_EQ(token.kind, CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(token.text, XS(u"ns:item"));

    token = First(u"</item  >");
    EXPECT_EQ(token.kind, CXmlDoc::XML_TOKEN_END_TAG);
    EXPECT_EQ(token.length, 9);
    EXPECT_EQ(m_lastState.endNameStart, 2);
    EXPECT_EQ(m_lastState.endNameEnd, 6);

    token = First(u"<?xml-stylesheet href='a'?>");
    EXPECT_EQ(token.kind, CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(token.text, XS(u"xml-stylesheet"));
}

TEST_F(XmlTokenizer, NameMayStartWithAnyCharacterFrom7BUp)
{
    EXPECT_EQ(First(u"<\u4E2D\u6587/>").kind, CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(First(u"<{x}/>").kind, CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(First(u"<_a/>").kind, CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(First(u"<:a/>").kind, CXmlDoc::XML_NODE_ELEMENT);
    for (std::u16string_view bad : {u"<1/>", u"<-a/>", u"<.a/>", u"< a/>", u"<[a/>", u"<@a/>", u"<`a/>"})
        EXPECT_EQ(First(bad).kind, CXmlDoc::XML_TOKEN_FAULT) << "first char " << static_cast<int>(bad[1]);
}

TEST_F(XmlTokenizer, EmptyElementNeedsSlashAfterNameWhitespaceOrQuote)
{
    for (std::u16string_view empty : {u"<a/>", u"<a />", u"<a b=\"1\"/>", u"<a b='1'/>", u"<a\n/>"})
        EXPECT_TRUE(First(empty).flags & CXmlDoc::EmptyElement) << "empty";
    // The slash follows an attribute name, or belongs to an unquoted value.
    for (std::u16string_view open : {u"<a b/>", u"<a b=1/>", u"<a/ >", u"<a>"})
        EXPECT_FALSE(First(open).flags & CXmlDoc::EmptyElement) << "not empty";
}

TEST_F(XmlTokenizer, QuotesCountOnlyWhereAValueMayBegin)
{
    // A '>' inside a quoted value does not end the tag.
    EXPECT_EQ(First(u"<a t=\"x>y\"/>").length, 12);
    EXPECT_EQ(First(u"<a t = 'x>y'>").length, 13);
    // The other quote inside a quoted value is ordinary.
    EXPECT_EQ(First(u"<a t=\"it's>\">").length, 13);
    // Not armed: after a name, after a second '=', after an unquoted value.
    EXPECT_EQ(First(u"<a \"x>y\">").length, 6);
    EXPECT_EQ(First(u"<a t==\"x>y\">").length, 9);
    EXPECT_EQ(First(u"<a t=v\"x>y\">").length, 9);
}

TEST_F(XmlTokenizer, ClosingStringMayReuseTheOpening)
{
    EXPECT_EQ(Tokens(u"<!-->"), (std::vector<Tok>{{CXmlDoc::XML_NODE_COMMENT, 0, 5}}));
    EXPECT_EQ(Tokens(u"<?>"), (std::vector<Tok>{{CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION, 0, 3}}));
    EXPECT_EQ(Tokens(u"<![C]]>"), (std::vector<Tok>{{CXmlDoc::XML_NODE_CDATA_SECTION, 0, 7}}));
    // A lone '>' inside does not close them.
    EXPECT_EQ(First(u"<!-- a > b -> c -->x").length, 19);
    EXPECT_EQ(First(u"<?p a > b ?>x").length, 12);
    EXPECT_EQ(First(u"<![CDATA[ ]> ]]>x").length, 16);
}

TEST_F(XmlTokenizer, DoctypeRunsPastNestedMarkup)
{
    const std::u16string_view doctype = u"<!DOCTYPE r [<!ELEMENT r ANY>]>";
    EXPECT_EQ(First(doctype).kind, CXmlDoc::XML_NODE_DOCUMENT_TYPE);
    EXPECT_EQ(First(doctype).length, static_cast<int>(doctype.size()));

    const std::u16string_view nested =
        u"<!DOCTYPE r [<!-- > --><?p > ?><!ENTITY e \"a>b\"><!ATTLIST r x CDATA 'y>'>]>";
    EXPECT_EQ(First(nested).length, static_cast<int>(nested.size()));

    // At the document type's own level quotes are not recognised.
    EXPECT_EQ(First(u"<!DOCTYPE r SYSTEM \"a>b\">").length, 22);
}

TEST_F(XmlTokenizer, DeclarationsOutsideDoctype)
{
    CXmlDoc::Token token = First(u"<!ENTITY e 'x>y'>");
    EXPECT_EQ(token.kind, CXmlDoc::XML_NODE_DOCUMENT_TYPE);
    EXPECT_EQ(token.length, 17);
    EXPECT_EQ(First(u"<!ATTLIST a b CDATA #IMPLIED>").kind, CXmlDoc::XML_NODE_DOCUMENT_TYPE);
    EXPECT_EQ(First(u"<!NOTATION n SYSTEM \"x\">").kind, CXmlDoc::XML_NODE_DOCUMENT_TYPE);
}

TEST_F(XmlTokenizer, IncorrectMarkupMessagesAndBounds)
{
    struct Case
    {
        std::u16string_view text;
        std::u16string_view message;
        int length;
    };
    const Case cases[] = {
        {u"<1a/>", u"Incorrect tag name character at offset 0", 5},
        {u"<!x>", u"Incorrect ! tag at offset 0", 4},
        {u"<!>", u"Incorrect ! tag at offset 0", 3},
        {u"<!-x>", u"Incorrect comment tag at offset 0", 5},
        {u"<![x]>", u"Incorrect tag at offset 0", 6},
        // A faulty token ends just before the next '<'.
        {u"<1a<b/>", u"Incorrect tag name character at offset 0", 3},
        {u"<<b/>", u"Incorrect tag name character at offset 0", 1},
    };
    for (const Case& c : cases) {
        CXmlDoc::Token token = First(c.text);
        EXPECT_EQ(token.kind, CXmlDoc::XML_TOKEN_FAULT);
        EXPECT_EQ(token.text, XS(c.message));
        EXPECT_EQ(token.length, c.length) << "for " << token.length;
    }
}

TEST_F(XmlTokenizer, UnterminatedMarkupNamesTheConstruct)
{
    struct Case
    {
        std::u16string_view text;
        std::u16string_view message;
    };
    const Case cases[] = {
        {u"x <a b='>", u"Element tag at offset 2 unterminated"},
        {u"x </a", u"Element end tag at offset 2 unterminated"},
        {u"x <![CDATA[ ]>", u"CDATA Section at offset 2 unterminated"},
        {u"x <?pi ?", u"Processing instruction at offset 2 unterminated"},
        {u"x <!-- -", u"Comment at offset 2 unterminated"},
        {u"x <!DOCTYPE r [<!-- > -- ]>", u"Doctype at offset 2 unterminated"},
        {u"x <!DOCTYPE r [<!ENTITY e 'a>b]>", u"Doctype at offset 2 unterminated"},
        {u"x <!ELEMENT r \"a>", u"Doctype at offset 2 unterminated"},
        {u"x <", u"tag at offset 2 unterminated"},
        {u"x <!", u"tag at offset 2 unterminated"},
        {u"x <1ab", u"tag at offset 2 unterminated"},
        {u"x <!-x", u"tag at offset 2 unterminated"},
    };
    for (const Case& c : cases) {
        const auto tokens = Tokens(c.text);
        ASSERT_EQ(tokens.size(), 2u);
        EXPECT_EQ(tokens[1].kind, CXmlDoc::XML_TOKEN_FAULT);
        EXPECT_EQ(tokens[1].start + tokens[1].length, static_cast<int>(c.text.size()));
        EXPECT_EQ(m_last.text, XS(c.message));
    }
}

} // namespace
