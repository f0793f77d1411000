// GetAttrib on elements and processing instructions.
#include <gtest/gtest.h>

#include "tests/xml/xml_test_util.h"

namespace {

class XmlAttrib : public ::testing::Test
{
protected:
    // GetAttrib(name) on the top-level element of text.
    XmlString On(std::u16string_view text, std::u16string_view name)
    {
        m_doc.SetDoc(XS(text));
        if (!m_doc.FindElem())
            return XS(u"<no element>");
        return m_doc.GetAttrib(XS(name));
    }

    CXmlDoc m_doc;
};

TEST_F(XmlAttrib, QuotedValues)
{
    EXPECT_EQ(On(u"<a id=\"1\"/>", u"id"), XS(u"1"));
    EXPECT_EQ(On(u"<a id = '2'>", u"id"), XS(u"2"));
    EXPECT_EQ(On(u"<a\n\tx=\"9\"\r\n  id=\"3\"\n/>", u"id"), XS(u"3"));
    EXPECT_EQ(On(u"<a t=\"it's\" u='say \"hi\"'/>", u"t"), XS(u"it's"));
    EXPECT_EQ(On(u"<a t=\"it's\" u='say \"hi\"'/>", u"u"), XS(u"say \"hi\""));
    EXPECT_EQ(On(u"<a t=\"x>y\" id=\"4\"/>", u"id"), XS(u"4"));
    EXPECT_EQ(On(u"<a id=\"\"/>", u"id"), XS(u""));
    EXPECT_EQ(On(u"<a v=\"&lt;1&gt;\"/>", u"v"), XS(u"<1>"));
}

TEST_F(XmlAttrib, NamesMatchWholeAndCaseSensitive)
{
    EXPECT_EQ(On(u"<a idx=\"2\">", u"id"), XS(u""));
    EXPECT_EQ(On(u"<a x=\"id=3\">", u"id"), XS(u""));
    EXPECT_EQ(On(u"<a ID=\"3\">", u"id"), XS(u""));
    EXPECT_EQ(On(u"<a d=\"1\" id=\"2\" d2=\"3\">", u"d"), XS(u"1"));
    // The element's own name is no attribute.
    EXPECT_EQ(On(u"<id x=\"1\"/>", u"id"), XS(u""));
    // The first attribute of that name wins.
    EXPECT_EQ(On(u"<a k=\"1\" k=\"2\"/>", u"k"), XS(u"1"));
}

TEST_F(XmlAttrib, UnquotedValues)
{
    EXPECT_EQ(On(u"<a id=5 x=6>", u"id"), XS(u"5"));
    EXPECT_EQ(On(u"<a id=5 x=6>", u"x"), XS(u"6"));
    // Directly after '=' an unquoted value takes '/' along.
    EXPECT_EQ(On(u"<a b=1/>", u"b"), XS(u"1/"));
    EXPECT_EQ(On(u"<a b= 1/>", u"b"), XS(u"1"));
    EXPECT_EQ(On(u"<a b=x&amp;y>", u"b"), XS(u"x&y"));
}

TEST_F(XmlAttrib, ValuelessAttributeReturnsItsName)
{
    EXPECT_EQ(On(u"<a checked x=\"1\">", u"checked"), XS(u"checked"));
    EXPECT_EQ(On(u"<a x=\"1\" checked/>", u"checked"), XS(u"checked"));
    EXPECT_EQ(On(u"<a checked>", u"checked"), XS(u"checked"));
    EXPECT_EQ(On(u"<a checked 'q'>", u"checked"), XS(u"checked"));
    EXPECT_EQ(On(u"<a b=>", u"b"), XS(u""));
}

TEST_F(XmlAttrib, ReadsOnlyTheStartTag)
{
    // A stray quote does not reach into the markup that follows.
    m_doc.SetDoc(XS(u"<r><a '></a><b \"' id=\"9\"/></r>"));
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    ASSERT_TRUE(m_doc.FindElem(XS(u"a")));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"id")), XS(u""));
    // Attributes of the content are not the element's.
    EXPECT_EQ(On(u"<a>id=\"1\"<b id=\"2\"/></a>", u"id"), XS(u""));
}

TEST_F(XmlAttrib, ProcessingInstructionAttributes)
{
    m_doc.SetDoc(XS(u"<?xml version=\"1.0\" encoding='gb2312'?><r x=\"1\"/><?pi a=\"b\"?>"));
    ASSERT_EQ(m_doc.FindNode(), CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(m_doc.GetAttrib(XS(u"encoding")), XS(u"gb2312"));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"version")), XS(u"1.0"));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"xml")), XS(u""));
    // After an element: the instruction is current, not the element passed.
    ASSERT_EQ(m_doc.FindNode(), CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(m_doc.GetAttrib(XS(u"x")), XS(u"1"));
    ASSERT_EQ(m_doc.FindNode(), CXmlDoc::XML_NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(m_doc.GetAttrib(XS(u"a")), XS(u"b"));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"x")), XS(u""));
}

TEST_F(XmlAttrib, OtherPositionsHaveNoAttributes)
{
    m_doc.SetDoc(XS(u"<r><!-- a=\"1\" --> a=\"1\" <![CDATA[ a=\"1\" ]]></r>"));
    EXPECT_EQ(m_doc.GetAttrib(XS(u"a")), XS(u""));
    ASSERT_TRUE(m_doc.FindElem());
    ASSERT_TRUE(m_doc.IntoElem());
    EXPECT_EQ(m_doc.GetAttrib(XS(u"a")), XS(u""));
    for (int kind; (kind = m_doc.FindNode()) != 0;)
        EXPECT_EQ(m_doc.GetAttrib(XS(u"a")), XS(u"")) << "kind " << kind;
    EXPECT_EQ(m_doc.GetAttrib(nullptr), XS(u""));
}

} // namespace
