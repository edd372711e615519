#pragma once
// Text is held as 8-bit strings in the system ANSI code page; wide strings appear only at
// COM and Win32 boundaries and are converted here.
#include <windows.h>
#include <cstdarg>
#include <string>

namespace hv {

std::wstring ToWide(const std::string& ansi);
std::wstring ToWide(const char* ansi);
std::string ToAnsi(const wchar_t* wide, size_t length);
std::string ToAnsi(const wchar_t* wide);
std::string ToAnsi(const std::wstring& wide);

// printf-style formatting into a growing string (no length limit).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// Replaces every occurrence of `from` by `to`; returns the number of replacements.
size_t ReplaceAll(std::string& text, const std::string& from, const std::string& to);

// The five XML special characters (& < > " ') as entities, every other byte kept: for text
// placed inside markup the product builds itself (the link blob, the environment report).
std::string EscapeFiveSpecials(const std::string& text);

// A string resource of the module this code is linked into.
std::string LoadResString(UINT id);

// The module (DLL or EXE) this code is linked into: resources come from here, never from the
// host process's own module.
HINSTANCE ThisModule() noexcept;

}  // namespace hv
