// Helpers shared by the XML document tests.
#pragma once

#include <string>
#include <string_view>

#include "xml/xml_core.h"

// XmlString from a UTF-16 literal; the same source builds where XmlString
// is std::wstring (Windows) and where it is std::u16string.
inline XmlString XS(std::u16string_view text)
{
    return XmlString(text.begin(), text.end());
}

inline const CXmlDoc::ElemRecord& RecordOf(const CXmlDoc& doc, int index)
{
    static const CXmlDoc::ElemRecord missing{};
    const CXmlDoc::ElemRecord* r = doc.GetRecord(index);
    return r ? *r : missing;
}
