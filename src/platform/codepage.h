// Conversions between the ANSI code page (CP936), UTF-16 and UTF-8. The only
// place that calls iconv. Safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace brevid {

// UTF-16LE code units to CP936. A character CP936 lacks, or a lone surrogate,
// becomes the default character "?"; *usedDefault is set when that happened.
std::string WideToAnsi(std::u16string_view wide, bool* usedDefault = nullptr);

// CP936 to UTF-16. A byte sequence that is not valid CP936 becomes "?".
std::u16string AnsiToWide(std::string_view ansi);

// Front-end edges and the file system: CP936 to UTF-8 and back. Characters
// CP936 lacks become "?" on the way in; PathToAnsi's escapes come back out.
std::string AnsiToUtf8(std::string_view ansi);
// AnsiToUtf8(ansi) appended to `utf8`: ASCII, as most names are, without a copy.
void AppendAnsiAsUtf8(std::string_view ansi, std::string* utf8);
std::string Utf8ToAnsi(std::string_view utf8, bool* usedDefault = nullptr);

// A path or file name from the user (UTF-8) for the platform's file
// functions: as Utf8ToAnsi, except that a character CP936 lacks (or a byte
// that is no UTF-8) is kept, as 0xFF, its length "1".."4" and its bytes.
// 0xFF is neither a lead nor a trail byte of CP936, and AnsiToUtf8 turns the
// escape back, so "disk-ß.img" opens and two such names never collide.
std::string PathToAnsi(std::string_view utf8);

// Engine literals are written in UTF-8 source; this gives their CP936 form.
// Shorthand for Utf8ToAnsi of a literal known to convert.
inline std::string Ansi(std::string_view utf8Literal) { return Utf8ToAnsi(utf8Literal); }

}  // namespace brevid
