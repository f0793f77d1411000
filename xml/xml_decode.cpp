// Decoding of references in text and of a file's UTF-8 bytes, and the
// choice of a file's code page: see xml_core.h.
#include "xml/xml_internal.h"

#include <algorithm>
#include <cstdlib>

using xmlcore::LookupEntity;

namespace {

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
