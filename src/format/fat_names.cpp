#include "format/fat_names.h"

#include "format/fat_layout.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

std::string RawBytes(Bytes entry, size_t at, size_t size) {
  Bytes b = SubBytes(entry, at, size);
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void CutTrailingSpaces(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

// Converts `count` UTF-16 units at `at`, up to the first NUL.
std::string Piece(Bytes entry, size_t at, size_t count, bool* defaulted) {
  std::u16string wide;
  for (size_t i = 0; i < count; ++i) {
    char16_t c = LoadLe16(entry, at + 2 * i);
    if (c == 0) break;
    wide.push_back(c);
  }
  return WideToAnsi(wide, defaulted);
}

// Byte 0 of a short name: a deletion mark would fuse with the next byte into
// one CP936 character and lose a letter, so it shows as "_"; 0x05 stands for
// a real 0xE5 lead byte.
void MendFirstByte(std::string& name) {
  if (name.empty()) return;
  if (static_cast<uint8_t>(name[0]) == fat::kDeletedMark)
    name[0] = '_';
  else if (static_cast<uint8_t>(name[0]) == fat::kLeadE5Stored)
    name[0] = static_cast<char>(fat::kDeletedMark);
}

}  // namespace

std::string FatShortFileName(Bytes entry) {
  std::string name = RawBytes(entry, fat::kName, 8);
  MendFirstByte(name);
  if (Load8(entry, 7) == ' ') CutTrailingSpaces(name);
  std::string ext = RawBytes(entry, fat::kExtension, 3);
  if (ext.find_first_not_of(' ') != std::string::npos) name += "." + ext;
  return name;
}

std::string FatShortFolderName(Bytes entry) {
  std::string name = RawBytes(entry, fat::kName, 11);
  // A deleted one-letter folder lost its only letter to the deletion mark.
  if (name.size() == 11 && static_cast<uint8_t>(name[0]) == fat::kDeletedMark &&
      name.find_first_not_of(' ', 1) == std::string::npos)
    name[0] = '?';
  MendFirstByte(name);
  CutTrailingSpaces(name);
  return name;
}

std::string FatLongNamePart(Bytes entry, bool* defaulted) {
  std::string text = Piece(entry, fat::kLfnChars1, 5, defaulted);
  if (!(LoadLe16(entry, fat::kLfnChars2) == 0xFFFF &&
        LoadLe16(entry, fat::kLfnChars2 + 2) == 0xFFFF))
    text += Piece(entry, fat::kLfnChars2, 6, defaulted);
  if (LoadLe32(entry, fat::kLfnChars3) != 0xFFFFFFFF)
    text += Piece(entry, fat::kLfnChars3, 2, defaulted);
  return text;
}

}  // namespace brevid
