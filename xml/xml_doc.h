// Loading an XML document from a file on Windows. The text is converted to
// UTF-16 from UTF-8 or, when the XML declaration names another encoding,
// from the system's ANSI code page; CXmlDoc::Parse then builds the tree.
#pragma once

#include <windows.h>

#include <string>

#include "xml/xml_core.h"

namespace xmlfile {

// The runtime library's text for an error number, cut to at most 99
// characters and at its first line break.
std::wstring RuntimeErrorText(int errorNumber);

} // namespace xmlfile
