// Conversion between wide text and the system code page, and the splitting and trimming that the
// patch-list parser uses.
#pragma once

#include <string>
#include <vector>

std::string& WideToAnsi(const std::wstring& in, std::string& out);
std::wstring& AnsiToWide(const std::string& in, std::wstring& out);

// Appends the non-empty pieces of text between separators; an empty text yields one empty piece.
std::vector<std::wstring>& SplitString(const std::wstring& text, const std::wstring& separator,
                                       std::vector<std::wstring>& out);

// Remove blanks and carriage returns from the start / the end; always true.
bool TrimLeft(std::wstring& s);
bool TrimRight(std::wstring& s);
