// Loading an XML document from a file: see xml_doc.h.
#include "xml/xml_doc.h"

#include "platform/handle.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>
#include <wchar.h>

namespace xmlfile {

std::wstring RuntimeErrorText(int errorNumber)
{
    const wchar_t* text = _wcserror(errorNumber);
    std::wstring message = text ? text : L"";
    if (message.size() > 99)
        message.resize(99);
    const std::size_t lineEnd = message.find_first_of(L"\r\n");
    if (lineEnd != std::wstring::npos)
        message.resize(lineEnd);
    return message;
}

} // namespace xmlfile

bool CXmlDoc::LoadFile(const wchar_t* path, std::wstring& document, std::wstring* message)
{
    if (path == nullptr) {
        if (message)
            *message = xmlfile::RuntimeErrorText(EINVAL);
        return false;
    }
    errno = 0;
    kyd::UniqueCrtFile file(_wfopen(path, L"rb"));
    if (!file) {
        if (message)
            *message = xmlfile::RuntimeErrorText(errno);
        return false;
    }

    document.clear();
    long size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());
    if (size < 0 || size > INT_MAX / 2 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        // Larger than a text offset can address, or not seekable.
        if (message)
            *message = xmlfile::RuntimeErrorText(errno ? errno : EFBIG);
        return false;
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (size > 0)
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    const int byteCount = static_cast<int>(bytes.size());

    // The XML declaration within the first 100 bytes tells the code page.
    const UINT codePage = DetectCodePage(bytes.data(), bytes.size());
    const char* source = reinterpret_cast<const char*>(bytes.data());
    int wideCount = 0;
    if (byteCount > 0)
        wideCount = MultiByteToWideChar(codePage, 0, source, byteCount, nullptr, 0);
    if (wideCount > 0) {
        std::vector<wchar_t> wide(static_cast<std::size_t>(wideCount) + wideCount / 100 + 1);
        wideCount = MultiByteToWideChar(codePage, 0, source, byteCount, wide.data(), static_cast<int>(wide.size()));
        if (wideCount < 0)
            wideCount = 0;
        const std::size_t room = static_cast<std::size_t>(wideCount) + wideCount / 100;
        document.reserve(room + room / 100);
        document.assign(wide.data(), static_cast<std::size_t>(wideCount));
    } else {
        wideCount = 0;
    }

    if (message) {
        // "%s%d bytes to %d wide chars" with an empty first argument.
        *message = std::to_wstring(byteCount) + L" bytes to " + std::to_wstring(wideCount) + L" wide chars";
    }
    return true;
}

bool CXmlDoc::LoadFile(const wchar_t* path)
{
    std::wstring document;
    std::wstring message;
    if (!LoadFile(path, document, &message)) {
        m_result = message;
        return false;
    }
    // The new text has no records until Parse builds them.
    m_doc = std::move(document);
    m_loadMessage = message;
    m_result = message;
    ResetCursor();
    ResetRecords(8);
    return true;
}
