// Loading documents from files (Windows only: the conversion uses the
// system's code pages).
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <string>

#include "tests/xml/xml_test_util.h"
#include "platform/handle.h"
#include "xml/xml_doc.h"

namespace {

class XmlLoadFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t dir[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
        m_path = std::wstring(dir) + L"xml_load_" + std::to_wstring(GetCurrentProcessId()) + L".xml";
    }
    void TearDown() override { DeleteFileW(m_path.c_str()); }

    void Write(const std::string& bytes)
    {
        kyd::UniqueCrtFile file(_wfopen(m_path.c_str(), L"wb"));
        ASSERT_TRUE(file);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
    }

    std::wstring m_path;
};

TEST_F(XmlLoadFile, EmptyFileLoadsAndParsesToEmptyDocument)
{
    Write("");
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    EXPECT_EQ(doc.GetResult(), L"0 bytes to 0 wide chars");
    EXPECT_FALSE(doc.Parse());
    EXPECT_EQ(doc.GetResult(), L"0 bytes to 0 wide chars, Empty document");
}

TEST_F(XmlLoadFile, Utf8TextIsConverted)
{
    Write("\xEF\xBB\xBF<r n=\"caf\xC3\xA9\"/>");
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    EXPECT_EQ(doc.GetResult(), L"17 bytes to 14 wide chars");
    EXPECT_EQ(doc.GetDoc(), L"\uFEFF<r n=\"caf\u00E9\"/>");
    // The byte-order mark stays as text before the root element.
    EXPECT_TRUE(doc.Parse());
    EXPECT_EQ(doc.GetResult(), L"17 bytes to 14 wide chars");
    ASSERT_TRUE(doc.FindElem(L"r"));
    EXPECT_EQ(doc.GetAttrib(L"n"), L"caf\u00E9");
}

TEST_F(XmlLoadFile, DeclaredEncodingUsesTheAnsiCodePage)
{
    const std::string body = "<r n=\"\xC4\xE3\xBA\xC3\"/>";
    Write("<?xml version=\"1.0\" encoding=\"gb2312\"?>" + body);
    wchar_t expected[32] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, body.data(), static_cast<int>(body.size()), expected, 32);
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    EXPECT_EQ(doc.GetDoc().substr(39), std::wstring(expected, n));
}

TEST_F(XmlLoadFile, MissingFileGivesTheRuntimeErrorText)
{
    CXmlDoc doc(L"<kept/>");
    const std::wstring missing = m_path + L".none";
    EXPECT_FALSE(doc.LoadFile(missing.c_str()));
    EXPECT_FALSE(doc.GetResult().empty());
    EXPECT_LE(doc.GetResult().size(), 99u);
    EXPECT_EQ(doc.GetResult().find_first_of(L"\r\n"), std::wstring::npos);
    // The document is left as it was.
    EXPECT_EQ(doc.GetDoc(), L"<kept/>");

    std::wstring text = L"x";
    std::wstring message;
    EXPECT_FALSE(CXmlDoc::LoadFile(missing.c_str(), text, &message));
    EXPECT_EQ(message, doc.GetResult());
    EXPECT_EQ(text, L"x");
    EXPECT_FALSE(CXmlDoc::LoadFile(missing.c_str(), text, nullptr));
}

TEST_F(XmlLoadFile, PackageConfigurationWalk)
{
    Write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
          "<KYD>\r\n <KYDUNSETUP timeout=\"120\">\r\n"
          "  <company vid=\"10DE\" timeout=\"60\">\r\n"
          "   <vid id=\"10de\"/>\r\n"
          "   <dev guid=\"{4d36e968-e325-11ce-bfc1-08002be10318}\">\r\n"
          "    <keyword name=\"Control Panel\" main_exec=\"cp.exe\">\r\n"
          "     <windows><wnd beginwnd_title=\"Setup\" beginwnd_btn=\"&amp;Next\"/></windows>\r\n"
          "    </keyword>\r\n   </dev>\r\n  </company>\r\n </KYDUNSETUP>\r\n</KYD>\r\n");
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadFile(m_path.c_str()));
    ASSERT_TRUE(doc.Parse());
    ASSERT_TRUE(doc.FindElem(L"KYD"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"KYDUNSETUP"));
    EXPECT_EQ(doc.GetAttrib(L"timeout"), L"120");
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_EQ(doc.FindNode(CXmlDoc::XML_NODE_ELEMENT), CXmlDoc::XML_NODE_ELEMENT);
    EXPECT_EQ(doc.GetTagName(), L"company");
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"dev"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"keyword"));
    EXPECT_EQ(doc.GetAttrib(L"name"), L"Control Panel");
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"windows"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(L"wnd"));
    EXPECT_EQ(doc.GetAttrib(L"beginwnd_btn"), L"&Next");
}

} // namespace

#endif // _WIN32
