// Reference decoding, UTF-8 decoding and encoding detection.
#include <gtest/gtest.h>

#include <string>

#include "tests/xml/xml_test_util.h"

namespace {

XmlString Decode(std::u16string_view text)
{
    const XmlString s = XS(text);
    return CXmlDoc::DecodeText(s.data(), s.size());
}

XmlString Utf8(std::string_view bytes)
{
    return CXmlDoc::DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

unsigned CodePageOf(std::string_view bytes)
{
    return CXmlDoc::DetectCodePage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(XmlDecodeText, CharacterReferences)
{
    EXPECT_EQ(Decode(u"&lt;&#65;&#x42;&amp;"), XS(u"<AB&"));
    EXPECT_EQ(Decode(u"&#X43;&#x6a;&#x6A;"), XS(u"Cjj"));
    // Leading digits only.
    EXPECT_EQ(Decode(u"&#12ab;"), XS(u"\u000C"));
    EXPECT_EQ(Decode(u"&#x4e2d;&#25991;"), XS(u"\u4E2D\u6587"));
    // Beyond the basic plane: a surrogate pair, not a truncated unit.
    EXPECT_EQ(Decode(u"&#x1F600;&#128512;"), XS(u"\U0001F600\U0001F600"));
}

TEST(XmlDecodeText, UndecodableReferencesStayAsWritten)
{
    for (std::u16string_view kept :
         {u"&nosuch;", u"&;", u"&verylongname;", u"&#0;", u"&#;", u"&#x;", u"&#xZZ;", u"&lt", u"& lt;",
          u"&l\u00E9;", u"&#65\u00E9;", u"&#x110000;", u"&#-65;", u"a & b", u"&"})
        EXPECT_EQ(Decode(kept), XS(kept));
    // Copying resumes right after the '&' that was kept.
    EXPECT_EQ(Decode(u"&&lt;"), XS(u"&<"));
    EXPECT_EQ(Decode(u"&a&lt;"), XS(u"&a<"));
    EXPECT_EQ(Decode(u"&nosuch;&gt;"), XS(u"&nosuch;>"));
}

TEST(XmlDecodeText, ReferenceNameHoldsAtMostNineCharacters)
{
    EXPECT_EQ(Decode(u"&#00000065;"), XS(u"A"));
    EXPECT_EQ(Decode(u"&#000000065;"), XS(u"&#000000065;"));
    EXPECT_EQ(Decode(u"&thetasym;"), XS(u"\u03D1"));
}

TEST(XmlDecodeText, ExactCaseEntityOfAPairKeepsItsOwnCodePoint)
{
    EXPECT_EQ(Decode(u"&eacute;"), XS(u"\u00E9"));
    EXPECT_EQ(Decode(u"&Eacute;"), XS(u"\u00C9"));
    EXPECT_EQ(Decode(u"&dagger;&Dagger;"), XS(u"\u2020\u2021"));
    EXPECT_EQ(Decode(u"&larr;&lArr;&harr;&hArr;"), XS(u"\u2190\u21D0\u2194\u21D4"));
    EXPECT_EQ(Decode(u"&thorn;&THORN;&eth;&ETH;"), XS(u"\u00FE\u00DE\u00F0\u00D0"));
    EXPECT_EQ(Decode(u"&aelig;&AElig;&oelig;&OElig;"), XS(u"\u00E6\u00C6\u0153\u0152"));
    EXPECT_EQ(Decode(u"&yuml;&Yuml;&scaron;&Scaron;"), XS(u"\u00FF\u0178\u0161\u0160"));
    EXPECT_EQ(Decode(u"&prime;&Prime;"), XS(u"\u2032\u2033"));
    EXPECT_EQ(Decode(u"&sigma;&Sigma;&sigmaf;&omega;&Omega;"), XS(u"\u03C3\u03A3\u03C2\u03C9\u03A9"));
    // Any other spelling of a pair's name takes the capitalised entity.
    EXPECT_EQ(Decode(u"&EACUTE;&eAcute;"), XS(u"\u00C9\u00C9"));
}

TEST(XmlDecodeText, NamesKnownInOneCaseMatchInAnyCase)
{
    EXPECT_EQ(Decode(u"&AMP;&Lt;&QUOT;&Apos;"), XS(u"&<\"'"));
    EXPECT_EQ(Decode(u"&EURO;&Nbsp;&COPY;&Hearts;"), XS(u"\u20AC\u00A0\u00A9\u2665"));
    EXPECT_EQ(Decode(u"&szlig;&SZLIG;&fnof;&alefsym;&diams;&ne;&loz;"),
              XS(u"\u00DF\u00DF\u0192\u2135\u2666\u2260\u25CA"));
}

TEST(XmlDecodeText, RespectsTheGivenLength)
{
    const XmlString s = XS(u"&lt;&gt;");
    EXPECT_EQ(CXmlDoc::DecodeText(s.data(), 3), XS(u"&lt"));
    EXPECT_EQ(CXmlDoc::DecodeText(s.data(), 4), XS(u"<"));
    EXPECT_EQ(CXmlDoc::DecodeText(nullptr, 4), XS(u""));
}

TEST(XmlDecodeUtf8, ValidSequences)
{
    EXPECT_EQ(Utf8("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z"), XS(u"a\u00E9\u4E2D\U0001F600z"));
    EXPECT_EQ(Utf8("\xEF\xBB\xBF<"), XS(u"\uFEFF<"));
}

TEST(XmlDecodeUtf8, InvalidSequencesBecomeQuestionMarks)
{
    EXPECT_EQ(Utf8("a\xF8\x80z"), XS(u"a??z"));
    EXPECT_EQ(Utf8("a\x80z"), XS(u"a?z"));
    // A missing continuation byte: decoding resumes at the byte that was none.
    EXPECT_EQ(Utf8("\xC3" "A\xE4\xB8" "BCDE"), XS(u"?A?BCDE"));
    // Only the top bit of a continuation byte is looked at.
    EXPECT_EQ(Utf8("\xC3\xE9xyz"), XS(u"\u00E9xyz"));
}

TEST(XmlDecodeUtf8, ZeroByteAndCutOffSequenceEndTheText)
{
    EXPECT_EQ(Utf8(std::string_view("ab\0cd", 5)), XS(u"ab"));
    EXPECT_EQ(Utf8("ab\xE4\xB8"), XS(u"ab"));
    EXPECT_EQ(Utf8("ab\xF0\x9F\x98"), XS(u"ab"));
    EXPECT_EQ(Utf8("ab\xC3"), XS(u"ab"));
    EXPECT_EQ(Utf8(""), XS(u""));
}

TEST(XmlDetectCodePage, DeclaredEncoding)
{
    EXPECT_EQ(CodePageOf("<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<r/>"), CXmlDoc::XML_CODEPAGE_ANSI);
    EXPECT_EQ(CodePageOf("<?xml version=\"1.0\" encoding=\"GBK\"?><r/>"), CXmlDoc::XML_CODEPAGE_ANSI);
    EXPECT_EQ(CodePageOf("<?xml version=\"1.0\" encoding='utf-8'?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    EXPECT_EQ(CodePageOf("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    // Only the first five characters count.
    EXPECT_EQ(CodePageOf("<?xml encoding=\"utf-8-x\"?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    EXPECT_EQ(CodePageOf("<?xml encoding=\"utf8\"?><r/>"), CXmlDoc::XML_CODEPAGE_ANSI);
    // Whitespace or a byte-order mark before the declaration.
    EXPECT_EQ(CodePageOf("\r\n <?xml encoding=\"gb2312\"?><r/>"), CXmlDoc::XML_CODEPAGE_ANSI);
    EXPECT_EQ(CodePageOf("\xEF\xBB\xBF<?xml encoding=\"gb2312\"?><r/>"), CXmlDoc::XML_CODEPAGE_ANSI);
}

TEST(XmlDetectCodePage, NoUsableDeclarationMeansUtf8)
{
    EXPECT_EQ(CodePageOf(""), CXmlDoc::XML_CODEPAGE_UTF8);
    EXPECT_EQ(CodePageOf("<r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    EXPECT_EQ(CodePageOf("<?xml version=\"1.0\"?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    EXPECT_EQ(CodePageOf("<?xml encoding=\"\"?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    // Not at the first '<'.
    EXPECT_EQ(CodePageOf("<!-- c --><?xml encoding=\"gb2312\"?><r/>"), CXmlDoc::XML_CODEPAGE_UTF8);
    // Not closed within the first 100 bytes.
    const std::string late = "<?xml version=\"1.0\"" + std::string(70, ' ') + "encoding=\"gb2312\"?><r/>";
    EXPECT_EQ(CodePageOf(late), CXmlDoc::XML_CODEPAGE_UTF8);
    const std::string justIn = "<?xml encoding=\"gb2312\"" + std::string(100 - 25, ' ') + "?>";
    ASSERT_EQ(justIn.size(), 100u);
    EXPECT_EQ(CodePageOf(justIn), CXmlDoc::XML_CODEPAGE_ANSI);
    EXPECT_EQ(CodePageOf(" " + justIn), CXmlDoc::XML_CODEPAGE_UTF8);
}

} // namespace
