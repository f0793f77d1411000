// Cursor walks: FindElem, FindNode, IntoElem, OutOfElem, GetTagName.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/xml/xml_test_util.h"

namespace {

class XmlCursor : public ::testing::Test
{
protected:
    void Load(std::u16string_view text) { m_doc.SetDoc(XS(text)); }

    // FindNode(kinds) repeatedly at the current level: kind and tag name of
    // each node found.
    std::vector<std::pair<int, XmlString>> Nodes(int kinds = 0)
    {
        std::vector<std::pair<int, XmlString>> out;
        for (int kind; out.size() < 100 && (kind = m_doc.FindNode(kinds)) != 0;)
            out.emplace_back(kind, m_doc.GetTagName());
        return out;
    }

    CXmlDoc m_doc;
};

using NodeList = std::vector<std::pair<int, XmlString>>;

TEST_F(XmlCursor, FindElemByNameSkipsOthersAndKeepsCursorOnFailure)
{
    Load(u"<r><a/><b/><a id=\"2\"/></r>");
    ASSERT_TRUE(m_doc.FindElem(XS(u"r")));
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem(XS(u"a")));
    EXPECT_EQ(m_doc.GetCursorElement(), 2);
    ASSERT_TRUE(m_doc.FindElem(XS(u"a")));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"id")), XS(u"2"));
    EXPECT_FALSE(m_doc.FindElem(XS(u"a")));
    EXPECT_EQ(m_doc.GetCursorElement(), 4);
    EXPECT_EQ(m_doc.GetAttrib(XS(u"id")), XS(u"2"));
    EXPECT_EQ(m_doc.GetTagName(), XS(u"a"));
}

TEST_F(XmlCursor, FindElemNameRule)
{
    Load(u"<r><ab/><a/><a:b/></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    // "a" does not match "ab"; the given name may go on after a space, '=', '/', '[' or ']'.
    EXPECT_TRUE(m_doc.FindElem(XS(u"a[1]")));
    EXPECT_EQ(m_doc.GetCursorElement(), 3);
    EXPECT_FALSE(m_doc.FindElem(XS(u"a")));
    ASSERT_TRUE(m_doc.OutOfElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.GetCursorElement(), 3);
    ASSERT_TRUE(m_doc.FindElem(XS(u"a:b")));
    EXPECT_EQ(m_doc.GetTagName(), XS(u"a:b"));

    Load(u"<r><ab/><a/></r>");
    ASSERT_TRUE(m_doc.FindElem(XS(u"r")));
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_FALSE(m_doc.FindElem(XS(u"abc")));
    EXPECT_FALSE(m_doc.FindElem(XS(u"A")));
    EXPECT_TRUE(m_doc.FindElem(XS(u"a /")));
    EXPECT_EQ(m_doc.GetCursorElement(), 3);
    // An empty name matches any element.
    Load(u"<r><x/></r>");
    EXPECT_TRUE(m_doc.FindElem(XS(u"")));
}

TEST_F(XmlCursor, FindNodeNeverDescendsFromOutside)
{
    Load(u"<r><a><x/><y/></a><b>t<z/></b><a id=\"2\"/></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(Nodes(CXmlDoc::XML_NODE_ELEMENT),
              (NodeList{{1, XS(u"a")}, {1, XS(u"b")}, {1, XS(u"a")}}));
    // Any kind from the start of <r>: the text inside <b> is not visited either.
    Load(u"<r><a><x/><y/></a><b>t<z/></b><a id=\"2\"/></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(Nodes(), (NodeList{{1, XS(u"a")}, {1, XS(u"b")}, {1, XS(u"a")}}));
}

TEST_F(XmlCursor, FindNodeReportsEveryKindInsideAnElement)
{
    Load(u"<r>t <!--c--><?p x?><![CDATA[d]]><a><n/></a></q><1>\n</r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    const NodeList expected = {
        {CXmlDoc::XML_NODE_TEXT, XS(u"#text")},
        {CXmlDoc::XML_NODE_COMMENT, XS(u"#comment")},
        {CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION, XS(u"p")},
        {CXmlDoc::XML_NODE_CDATA_SECTION, XS(u"#cdata-section")},
        {CXmlDoc::XML_NODE_ELEMENT, XS(u"a")},
        {CXmlDoc::XML_NODE_LONE_END_TAG, XS(u"q")},
        {CXmlDoc::XML_NODE_FAULT, XS(u"")},
        {CXmlDoc::XML_NODE_WHITESPACE, XS(u"#text")},
    };
    EXPECT_EQ(Nodes(), expected);
    // The cursor stays on the last node found.
    EXPECT_EQ(m_doc.GetNodeKind(), CXmlDoc::XML_NODE_WHITESPACE);
    EXPECT_EQ(m_doc.GetCursorElement(), 2);
}

TEST_F(XmlCursor, FindNodeAtTopLevel)
{
    Load(u"<?xml version=\"1.0\"?>\n<!DOCTYPE root [<!ELEMENT root ANY>]><root/><!--end-->");
    const NodeList expected = {
        {CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION, XS(u"xml")},
        {CXmlDoc::XML_NODE_WHITESPACE, XS(u"#text")},
        {CXmlDoc::XML_NODE_DOCUMENT_TYPE, XS(u"root")},
        {CXmlDoc::XML_NODE_ELEMENT, XS(u"root")},
        {CXmlDoc::XML_NODE_COMMENT, XS(u"#comment")},
    };
    EXPECT_EQ(Nodes(), expected);
    EXPECT_EQ(m_doc.GetNodeOffset(), 66);
    EXPECT_EQ(m_doc.GetNodeLength(), 10);
}

TEST_F(XmlCursor, UnwantedNodesAreSkippedAndTheLastElementPassedIsKept)
{
    Load(u"<r><a/>x<!--c--><b/><!--d--></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.FindNode(CXmlDoc::XML_NODE_COMMENT), CXmlDoc::XML_NODE_COMMENT);
    EXPECT_EQ(m_doc.GetCursorElement(), 2);
    EXPECT_EQ(m_doc.GetNodeOffset(), 8);
    // Not an element: no descending, no attributes, no tag of an element.
    EXPECT_FALSE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"#comment"));
    // FindElem goes on after the element last passed.
    EXPECT_TRUE(m_doc.FindElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"b"));
    EXPECT_EQ(m_doc.FindNode(CXmlDoc::XML_NODE_COMMENT | CXmlDoc::XML_NODE_TEXT), CXmlDoc::XML_NODE_COMMENT);
    EXPECT_EQ(m_doc.GetNodeOffset(), 20);
    // Nothing more: the cursor does not move.
    EXPECT_EQ(m_doc.FindNode(CXmlDoc::XML_NODE_TEXT), 0);
    EXPECT_EQ(m_doc.GetNodeOffset(), 20);
    EXPECT_EQ(m_doc.GetCursorElement(), 3);

    // Content of an element passed over is not searched.
    Load(u"<r><a><!--in--></a><!--out--></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.FindNode(CXmlDoc::XML_NODE_COMMENT), CXmlDoc::XML_NODE_COMMENT);
    EXPECT_EQ(m_doc.GetNodeOffset(), 19);
}

TEST_F(XmlCursor, IntoAndOutOfElem)
{
    Load(u"<r><a><x/></a><b/><c/></r>");
    EXPECT_FALSE(m_doc.OutOfElem());
    EXPECT_FALSE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.GetCursorParent(), 1);
    EXPECT_EQ(m_doc.GetCursorElement(), 0);
    EXPECT_EQ(m_doc.GetTagName(), XS(u""));
    ASSERT_TRUE(m_doc.FindElem(XS(u"b")));
    // An element without children: IntoElem succeeds, then nothing is found.
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_FALSE(m_doc.FindElem());
    EXPECT_EQ(m_doc.FindNode(), 0);
    // Out again: b is current, the next sibling search continues after it.
    ASSERT_TRUE(m_doc.OutOfElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"b"));
    ASSERT_TRUE(m_doc.FindElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"c"));
    // Out to the top, then back in: the element left is current again.
    ASSERT_TRUE(m_doc.OutOfElem());
    EXPECT_EQ(m_doc.GetCursorParent(), 0);
    EXPECT_FALSE(m_doc.OutOfElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"c"));
    EXPECT_FALSE(m_doc.FindElem());
}

TEST_F(XmlCursor, WalksAFaultyTreeAsBuilt)
{
    // <b> was never ended: it holds nothing, and <c> is <a>'s next child.
    Load(u"<r><a><b><c/></a>x</r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem(XS(u"a")));
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(Nodes(), (NodeList{{1, XS(u"b")}, {1, XS(u"c")}}));
    ASSERT_TRUE(m_doc.OutOfElem());
    EXPECT_FALSE(m_doc.FindElem(XS(u"b")));
    ASSERT_TRUE(m_doc.OutOfElem());
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem(XS(u"b")));
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.FindNode(), 0);
    EXPECT_FALSE(m_doc.FindElem());

    // A lone end tag inside an element is a node of its own.
    Load(u"<r><a/></x><b/></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(Nodes(), (NodeList{{1, XS(u"a")}, {128, XS(u"x")}, {1, XS(u"b")}}));
}

TEST_F(XmlCursor, TagNamesOfElementsAndDeclarations)
{
    Load(u"<abc/>");
    ASSERT_TRUE(m_doc.FindElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"abc"));
    Load(u"<x:y\tz=\"1\">t</x:y>");
    ASSERT_TRUE(m_doc.FindElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"x:y"));
    Load(u"<a=1/>");
    ASSERT_TRUE(m_doc.FindElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u"a"));
    Load(u"<!ENTITY  name 'v'><r/>");
    EXPECT_EQ(m_doc.FindNode(), CXmlDoc::XML_NODE_DOCUMENT_TYPE);
    EXPECT_EQ(m_doc.GetTagName(), XS(u"name"));
}

TEST_F(XmlCursor, MovedDocumentKeepsTreeAndCursor)
{
    Load(u"<r><a x=\"1\"/><b/></r>");
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem());
    CXmlDoc moved(std::move(m_doc));
    EXPECT_EQ(moved.GetAttrib(XS(u"x")), XS(u"1"));
    EXPECT_TRUE(moved.FindElem(XS(u"b")));
    // The source is left without records; queries on it fail quietly.
    EXPECT_EQ(m_doc.GetRecordCount(), 0);
    EXPECT_EQ(m_doc.GetRecord(0), nullptr);
    EXPECT_FALSE(m_doc.FindElem());
    EXPECT_EQ(m_doc.FindNode(), 0);
    EXPECT_FALSE(m_doc.IntoElem());
    EXPECT_FALSE(m_doc.OutOfElem());
    EXPECT_EQ(m_doc.GetTagName(), XS(u""));
    // It can be given a new text.
    EXPECT_TRUE(m_doc.SetDoc(XS(u"<n/>")));
    moved = std::move(m_doc);
    EXPECT_TRUE(moved.FindElem(XS(u"n")));
}

} // namespace
