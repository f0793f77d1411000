// Tree builder: records, not-ended and mismatched elements, the result
// message and the segmented record store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/xml/xml_test_util.h"

namespace {

class XmlTree : public ::testing::Test
{
protected:
    bool Parse(std::u16string_view text) { return m_doc.SetDoc(XS(text)); }
    const CXmlDoc::ElemRecord& R(int index) const { return RecordOf(m_doc, index); }

    // Record indices of parent's children, following the sibling chain.
    std::vector<int> Children(int parent) const
    {
        std::vector<int> out;
        for (int c = R(parent).firstChild; c != 0 && out.size() < 100; c = R(c).nextSibling)
            out.push_back(c);
        return out;
    }

    // Checks the chain links of parent's children: parent fields, the
    // first sibling's back link to the last one and FirstSibling flags.
    void ExpectChainConsistent(int parent) const
    {
        const std::vector<int> kids = Children(parent);
        if (kids.empty())
            return;
        EXPECT_EQ(R(kids.front()).prevSibling, kids.back()) << "parent " << parent;
        for (std::size_t i = 0; i < kids.size(); ++i) {
            EXPECT_EQ(R(kids[i]).parent, parent) << "child " << kids[i];
            EXPECT_EQ((R(kids[i]).flags & CXmlDoc::FirstSibling) != 0, i == 0) << "child " << kids[i];
            if (i > 0) {
                EXPECT_EQ(R(kids[i]).prevSibling, kids[i - 1]) << "child " << kids[i];
            }
        }
    }

    CXmlDoc m_doc;
};

TEST_F(XmlTree, WellFormedDocumentBuildsLinkedRecords)
{
    // 0         1         2         3
    // 0123456789012345678901234567890123
    // <r a="1"><x/><y>t</y><z></z></r>
    ASSERT_TRUE(Parse(u"<r a=\"1\"><x/><y>t</y><z></z></r>"));
    EXPECT_TRUE(m_doc.GetResult().empty());
    EXPECT_EQ(m_doc.GetRecordCount(), 5);
    EXPECT_EQ(R(0).length, 32);
    EXPECT_EQ(R(0).firstChild, 1);
    EXPECT_EQ(R(1).start, 0);
    EXPECT_EQ(R(1).length, 32);
    EXPECT_EQ(R(1).startTagLength, 9);
    EXPECT_EQ(R(1).endTagLength, 4);
    EXPECT_EQ(Children(1), (std::vector<int>{2, 3, 4}));
    ExpectChainConsistent(1);
    // <x/> has no end tag; <y> reaches through </y>.
    EXPECT_EQ(R(2).length, 4);
    EXPECT_EQ(R(2).endTagLength, 0);
    EXPECT_EQ(R(3).start, 13);
    EXPECT_EQ(R(3).length, 8);
    EXPECT_EQ(R(3).level, 1);
    EXPECT_EQ(R(4).length, 7);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(R(i).flags & (CXmlDoc::NotEnded | CXmlDoc::HasFault), 0u);
    EXPECT_EQ(R(0).flags & CXmlDoc::IllFormed, 0u);
}

TEST_F(XmlTree, EndTagMatchingAnOuterElementClosesTheInnerOnes)
{
    EXPECT_FALSE(Parse(u"<a><b></a>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"End tag 'a' at offset 6 does not match start tag 'b' at offset 3"));
    EXPECT_TRUE(R(0).flags & CXmlDoc::IllFormed);
    EXPECT_TRUE(R(2).flags & CXmlDoc::NotEnded);
    EXPECT_EQ(R(2).length, R(2).startTagLength);
    EXPECT_EQ(R(2).endTagLength, 0);
    EXPECT_EQ(R(1).length, 10);
    EXPECT_EQ(R(1).endTagLength, 4);
    EXPECT_FALSE(R(1).flags & CXmlDoc::NotEnded);
}

TEST_F(XmlTree, ChildrenOfANotEndedElementMoveUpAfterIt)
{
    // 0         1         2
    // 0123456789012345678901234
    // <r><a><b/><c></c>t</r>
    EXPECT_FALSE(Parse(u"<r><a><b/><c></c>t</r>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"End tag 'r' at offset 18 does not match start tag 'a' at offset 3"));
    EXPECT_EQ(Children(1), (std::vector<int>{2, 3, 4}));
    EXPECT_TRUE(Children(2).empty());
    ExpectChainConsistent(1);
    EXPECT_TRUE(R(2).flags & CXmlDoc::NotEnded);
    EXPECT_FALSE(R(4).flags & CXmlDoc::NotEnded);
    EXPECT_EQ(R(4).length, 7);
    EXPECT_EQ(R(1).length, 22);
}

TEST_F(XmlTree, OpenElementsAtTheEndAreClosedInnermostFirst)
{
    EXPECT_FALSE(Parse(u"<a><!-- x"));
    // Only the first problem is kept.
    EXPECT_EQ(m_doc.GetResult(), XS(u"Comment at offset 3 unterminated"));
    EXPECT_TRUE(R(1).flags & CXmlDoc::NotEnded);

    EXPECT_FALSE(Parse(u"<a>\n"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"Element 'a' at offset 0 not ended"));

    // Every open element ends up at top level, in document order, so the
    // root gains siblings and that message replaces the first one.
    EXPECT_FALSE(Parse(u"<r><a><x/><b><c/>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"Root element has sibling"));
    EXPECT_EQ(Children(0), (std::vector<int>{1, 2, 3, 4, 5}));
    ExpectChainConsistent(0);
    for (int i : {1, 2, 4})
        EXPECT_TRUE(R(i).flags & CXmlDoc::NotEnded) << i;
    EXPECT_FALSE(R(3).flags & CXmlDoc::NotEnded);
}

TEST_F(XmlTree, EndTagWithoutStartTagIsIgnored)
{
    EXPECT_FALSE(Parse(u"<a></b></a>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"No start tag for end tag 'b' at offset 3"));
    EXPECT_EQ(R(1).length, 11);
    EXPECT_FALSE(R(1).flags & CXmlDoc::NotEnded);
    EXPECT_TRUE(R(1).flags & CXmlDoc::HasFault);
    // Names are compared exactly.
    EXPECT_FALSE(Parse(u"<a></A></a>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"No start tag for end tag 'A' at offset 3"));
    EXPECT_FALSE(Parse(u"<ab></a></ab>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"No start tag for end tag 'a' at offset 4"));
}

TEST_F(XmlTree, FaultFlagFollowsMovedChildren)
{
    // The fault inside <a> marks it; closing <a> as not ended moves the mark to <r>.
    EXPECT_FALSE(Parse(u"<r><a><1x></r>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"Incorrect tag name character at offset 6"));
    EXPECT_TRUE(R(1).flags & CXmlDoc::HasFault);
    EXPECT_FALSE(R(2).flags & CXmlDoc::HasFault);
    EXPECT_TRUE(R(2).flags & CXmlDoc::NotEnded);

    // A fault at top level marks the document record.
    EXPECT_FALSE(Parse(u"<!x><r/>"));
    EXPECT_TRUE(R(0).flags & CXmlDoc::HasFault);
    EXPECT_FALSE(R(1).flags & CXmlDoc::HasFault);
}

TEST_F(XmlTree, MarkupFaultMessagesKeepTheRoot)
{
    struct Case
    {
        std::u16string_view text;
        std::u16string_view message;
    };
    const Case cases[] = {
        {u"<r><1a/></r>", u"Incorrect tag name character at offset 3"},
        {u"<r><!x></r>", u"Incorrect ! tag at offset 3"},
        {u"<r><!-x></r>", u"Incorrect comment tag at offset 3"},
        {u"<r><![x]></r>", u"Incorrect tag at offset 3"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Parse(c.text));
        EXPECT_EQ(m_doc.GetResult(), XS(c.message));
        EXPECT_EQ(m_doc.GetRecordCount(), 2);
        EXPECT_EQ(R(1).length, static_cast<int>(c.text.size()));
    }
}

TEST_F(XmlTree, DocumentLevelChecksComeLast)
{
    EXPECT_FALSE(Parse(u"<1a>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"No root element"));
    EXPECT_FALSE(Parse(u"just text"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"No root element"));
    EXPECT_FALSE(Parse(u"<a/><b/>"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"Root element has sibling"));
    EXPECT_EQ(Children(0), (std::vector<int>{1, 2}));
    EXPECT_FALSE(Parse(u""));
    EXPECT_EQ(m_doc.GetResult(), XS(u"Empty document"));
    EXPECT_EQ(m_doc.GetRecordCount(), 1);

    CXmlDoc fresh;
    EXPECT_EQ(fresh.GetResult(), XS(u"Empty document"));
}

TEST_F(XmlTree, PrologAndTrailingMarkupAreAllowed)
{
    EXPECT_TRUE(Parse(u"\uFEFF<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ELEMENT r ANY>]>\n<!-- c --><r/>\n<?p?>"));
    EXPECT_TRUE(m_doc.GetResult().empty());
    EXPECT_EQ(m_doc.GetRecordCount(), 2);
}

TEST_F(XmlTree, NamesInMessagesAreCutToFifty)
{
    const std::u16string longName(60, u'n');
    const std::u16string text = u"<a></" + longName + u">";
    EXPECT_FALSE(Parse(text));
    EXPECT_EQ(m_doc.GetResult(),
              XS(u"No start tag for end tag '" + longName.substr(0, 50) + u"' at offset 3"));

    EXPECT_FALSE(Parse(u"<" + longName + u"><b></" + longName + u">"));
    EXPECT_EQ(m_doc.GetResult(), XS(u"End tag '" + longName.substr(0, 50) + u"' at offset 65 does not match start tag 'b' at offset 62"));
}

TEST_F(XmlTree, LongEndTagKeepsItsLength)
{
    // An end tag longer than 1023 characters still closes its element and
    // is found again as the parent's own end tag.
    const std::u16string name(1500, u'e');
    ASSERT_TRUE(Parse(u"<r><" + name + u"><x/></" + name + u"></r>"));
    EXPECT_EQ(R(2).endTagLength, 1503);
    EXPECT_TRUE(m_doc.FindElem());
    EXPECT_TRUE(m_doc.IntoElem());
    EXPECT_TRUE(m_doc.FindElem());
    EXPECT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.FindNode(), CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(m_doc.FindNode(), 0);
}

TEST_F(XmlTree, ManyElementsCrossRecordSegments)
{
    // More records than one segment holds, with the first estimate far too
    // small, so the store grows across segment boundaries.
    const int count = CXmlDoc::SEGMENT_SIZE + 4500;
    std::u16string text = u"<r>";
    for (int i = 0; i < count; ++i) {
        text += u"<e i=\"";
        for (char ch : std::to_string(i))
            text += static_cast<char16_t>(ch);
        text += u"\"/>";
    }
    text += u"<last><in/></last></r>";
    ASSERT_TRUE(Parse(text));
    EXPECT_EQ(m_doc.GetRecordCount(), count + 4);

    // Records on both sides of the boundary are linked to their neighbours.
    const int edge = CXmlDoc::SEGMENT_SIZE;
    EXPECT_EQ(R(edge - 1).nextSibling, edge);
    EXPECT_EQ(R(edge).prevSibling, edge - 1);
    EXPECT_EQ(R(edge).parent, 1);
    EXPECT_EQ(R(1).firstChild, 2);
    EXPECT_EQ(R(2).prevSibling, count + 2);

    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    int seen = 0;
    bool ordered = true;
    while (m_doc.FindElem(XS(u"e"))) {
        const XmlString expected = [&] {
            XmlString s;
            for (char ch : std::to_string(seen))
                s += static_cast<XmlChar>(ch);
            return s;
        }();
        if (m_doc.GetAttrib(XS(u"i")) != expected)
            ordered = false;
        ++seen;
    }
    EXPECT_EQ(seen, count);
    EXPECT_TRUE(ordered);
    // The walk stopped on the last <e>; <last> follows it.
    EXPECT_TRUE(m_doc.FindElem(XS(u"last")));
    EXPECT_TRUE(m_doc.IntoElem());
    EXPECT_TRUE(m_doc.FindElem(XS(u"in")));
    EXPECT_EQ(m_doc.GetCursorElement(), count + 3);
}

} // namespace
