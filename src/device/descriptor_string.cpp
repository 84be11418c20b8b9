#include "device/descriptor_string.h"

#include "common/text.h"

namespace brevid {
namespace {

bool IsPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }
bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexDigit(char c) {
  if (IsWhite(c)) return 0;
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeDescriptorString(std::string_view raw) {
  raw = UpToNul(raw);
  if (raw.empty()) return {};
  std::string decoded;
  bool hex = true;
  for (size_t i = 0; i < raw.size(); i += 2) {
    int hi = HexDigit(raw[i]);
    int lo = i + 1 < raw.size() ? HexDigit(raw[i + 1]) : 0;
    if (hi < 0 || lo < 0) {
      hex = false;
      break;
    }
    unsigned char byte = static_cast<unsigned char>(hi * 16 + lo);
    if (byte != 0 && !IsPrintable(byte)) {
      hex = false;
      break;
    }
    if (byte != 0) decoded.push_back(static_cast<char>(byte));
  }
  if (!hex) return PlainDescriptorString(raw);
  return Trim(decoded);
}

std::string PlainDescriptorString(std::string_view raw) {
  raw = UpToNul(raw);
  for (char c : raw)
    if (!IsPrintable(static_cast<unsigned char>(c)) && !IsWhite(c)) return {};
  return Trim(std::string(raw));
}

}  // namespace brevid
