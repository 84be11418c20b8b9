#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <type_traits>
#include <vector>

namespace brevid {
namespace {

// One converter per direction and thread: iconv descriptors carry state.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on an unconvertible or invalid input unit, appends
  // `fallback` and skips `skip(in)` bytes of input.
  template <class Skip>
  std::string Run(std::string_view in, std::string_view fallback, Skip skip, bool* usedDefault) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    if (buf_.size() < in.size() * 4 + 16) buf_.resize(in.size() * 4 + 16);
    std::vector<char>& buf = buf_;
    while (srcLeft > 0) {
      char* dst = buf.data();
      size_t dstLeft = buf.size();
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end)
      size_t n = std::min(srcLeft, skip(std::string_view(src, srcLeft)));
      src += n;
      srcLeft -= n;
      out.append(fallback);
      if (usedDefault) *usedDefault = true;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
  std::vector<char> buf_;  // kept between calls: names are converted by the thousand
};

size_t SkipUtf16Unit(std::string_view s) {
  if (s.size() >= 4) {
    unsigned hi = static_cast<unsigned char>(s[0]) | (static_cast<unsigned char>(s[1]) << 8);
    unsigned lo = static_cast<unsigned char>(s[2]) | (static_cast<unsigned char>(s[3]) << 8);
    if (hi >= 0xD800 && hi < 0xDC00 && lo >= 0xDC00 && lo < 0xE000) return 4;
  }
  return 2;
}

// A lead byte followed by something that cannot trail it is one bad byte:
// the next byte is kept ("\xE5" "018" shows as "?018").
size_t SkipAnsiChar(std::string_view s) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x81 || c > 0xFE || s.size() < 2) return 1;
  unsigned char t = static_cast<unsigned char>(s[1]);
  return (t >= 0x40 && t <= 0xFE && t != 0x7F) ? 2 : 1;
}

size_t SkipUtf8Char(std::string_view s) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

const std::string_view kQuestionLe("?\0", 2);

// Starts a character PathToAnsi could not put into CP936.
constexpr char kPathEscape = '\xFF';

template <class Text>
bool AllAscii(const Text& text) {
  for (auto c : text)
    if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<decltype(c)>>(c)) >= 0x80)
      return false;
  return true;
}

}  // namespace

// ASCII is the same in all four forms, and most names are ASCII: those skip
// iconv altogether.

std::string WideToAnsi(std::u16string_view wide, bool* usedDefault) {
  if (AllAscii(wide)) return std::string(wide.begin(), wide.end());
  thread_local Converter conv("CP936", "UTF-16LE");
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return conv.Run(bytes, "?", SkipUtf16Unit, usedDefault);
}

std::u16string AnsiToWide(std::string_view ansi) {
  if (AllAscii(ansi)) return std::u16string(ansi.begin(), ansi.end());
  thread_local Converter conv("UTF-16LE", "CP936");
  std::string bytes = conv.Run(ansi, kQuestionLe, SkipAnsiChar, nullptr);
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  if (AllAscii(ansi)) return std::string(ansi);
  thread_local Converter conv("UTF-8", "CP936");
  std::string out;
  for (size_t escape; (escape = ansi.find(kPathEscape)) != std::string_view::npos;) {
    out += conv.Run(ansi.substr(0, escape), "?", SkipAnsiChar, nullptr);
    const size_t n = escape + 1 < ansi.size() ? static_cast<size_t>(ansi[escape + 1] - '0') : 0;
    const bool whole = n >= 1 && n <= 4 && escape + 2 + n <= ansi.size();
    out.append(whole ? ansi.substr(escape + 2, n) : "?");
    ansi.remove_prefix(whole ? escape + 2 + n : escape + 1);
  }
  return out + conv.Run(ansi, "?", SkipAnsiChar, nullptr);
}

void AppendAnsiAsUtf8(std::string_view ansi, std::string* utf8) {
  if (AllAscii(ansi))
    utf8->append(ansi);
  else
    utf8->append(AnsiToUtf8(ansi));
}

std::string PathToAnsi(std::string_view utf8) {
  std::string out;
  while (!utf8.empty()) {
    const size_t n = SkipUtf8Char(utf8);
    bool lossy = false;
    std::string one = Utf8ToAnsi(utf8.substr(0, n), &lossy);
    if (lossy || AnsiToUtf8(one) != utf8.substr(0, n)) {
      one = std::string(1, kPathEscape) + static_cast<char>('0' + n);
      one.append(utf8.substr(0, n));
    }
    out += one;
    utf8.remove_prefix(n);
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8, bool* usedDefault) {
  if (AllAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("CP936", "UTF-8");
  return conv.Run(utf8, "?", SkipUtf8Char, usedDefault);
}

}  // namespace brevid
