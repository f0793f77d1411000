// Helpers shared by the files of the XML document core (xml_tokenizer.cpp,
// xml_tree.cpp, xml_cursor.cpp, xml_decode.cpp, xml_entities.cpp). Not part
// of the document's interface: only the core's own files include it. Like
// the rest of the core it includes no Windows header.
#pragma once

#include "xml/xml_core.h"


namespace xmlcore {

inline bool IsWs(unsigned c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool IsQuote(unsigned c)
{
    return c == '"' || c == '\'';
}

inline void AppendAscii(XmlString& out, const char* text)
{
    for (; *text; ++text)
        out.push_back(static_cast<XmlChar>(static_cast<unsigned char>(*text)));
}

inline void AppendInt(XmlString& out, long long value)
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

// The code point of a named character reference: name holds length
// lower-case ASCII characters (A-Z already folded), hasCapital tells whether
// the reference was written with a capital. 0 when the name is unknown.
long LookupEntity(const char* name, int length, bool hasCapital);

} // namespace xmlcore
