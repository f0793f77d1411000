// Loading an XML document from a file on Windows. The text is converted to
// UTF-16 from UTF-8 or, when the XML declaration names another encoding,
// from the system's ANSI code page; CXmlDoc::Parse then builds the tree.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

#include "xml/xml_core.h"

namespace xmlfile {

// Owns one handle-like resource and closes it exactly once.
template <typename T, typename Traits>
class UniqueHandle
{
public:
    UniqueHandle() noexcept : m_handle(Traits::Invalid()) {}
    explicit UniqueHandle(T handle) noexcept : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    T Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != Traits::Invalid(); }
    T Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(T handle = Traits::Invalid()) noexcept
    {
        T old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    T m_handle;
};

struct CrtFileTraits
{
    static std::FILE* Invalid() noexcept { return nullptr; }
    static void Close(std::FILE* file) noexcept { std::fclose(file); }
};

using UniqueCrtFile = UniqueHandle<std::FILE*, CrtFileTraits>;

// The runtime library's text for an error number, cut to at most 99
// characters and at its first line break.
std::wstring RuntimeErrorText(int errorNumber);

} // namespace xmlfile
