// Entry names as Morvane is to show them: UTF-16, the platform's separator, and never a path
// that leads outside the folder they are extracted into.
#pragma once

#include <cstddef>
#include <string>

namespace formats {

#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// The longest name EntryInfo holds with its terminator.
constexpr size_t kLongestName = 1023;

// `name` with both '/' and '\' taken as separators, rejoined with `separator`: leading
// separators and a drive ("C:") dropped, empty, "." and ".." components removed, and cut to
// kLongestName code units. Empty when nothing is left (the archive's root "./", ".."). With '\'
// the name is a Windows name: a component of only spaces and dots, which Windows would cut to
// nothing, has them all replaced by '_'.
std::u16string NeutralName(const std::u16string& name, char16_t separator = kPathSeparator);

// At most `limit` code units, never ending in the first half of a surrogate pair.
std::u16string CutAtCharacter(const std::u16string& text, size_t limit);

// A name that libarchive decoded as ISO-8859-1, that is byte for byte, decoded again as UTF-8:
// when all its code units are bytes and those bytes are UTF-8 with at least one non-ASCII
// character. Anything else (an undecodable name, or one with characters beyond U+00FF that the
// archive marked as Unicode) stays as it is.
std::u16string RedecodeAsUtf8(const std::u16string& latin1);

// wchar_t text (UTF-16 on Windows, UTF-32 elsewhere) to UTF-16.
std::u16string FromWide(const wchar_t* text);

}  // namespace formats
