#include "fs/file_entry.h"

#include "common/text.h"
#include "platform/codepage.h"

namespace brevid {

const std::string& KindStatusText(uint8_t kind) {
  static const std::string texts[] = {"", Ansi("已删除文件夹"), Ansi("已删除文件"), Ansi("正常文件夹"),
                                      Ansi("正常文件")};
  return kind <= 4 ? texts[kind] : texts[0];
}

namespace {

// "%d-%02d-%02d %02d:%02d:%02d" without printf: the trees show three of
// these for every entry.
std::string DateTimeText(int year, int month, int day, int hour, int minute, int second) {
  char buf[32];
  char* p = buf;
  char digits[12];
  int n = 0;
  unsigned y = static_cast<unsigned>(year);
  do digits[n++] = static_cast<char>('0' + y % 10); while ((y /= 10) != 0);
  while (n > 0) *p++ = digits[--n];
  auto two = [&p](char sep, int v) {
    *p++ = sep;
    *p++ = static_cast<char>('0' + (v / 10) % 10);
    *p++ = static_cast<char>('0' + v % 10);
  };
  two('-', month);
  two('-', day);
  two(' ', hour);
  two(':', minute);
  two(':', second);
  return std::string(buf, static_cast<size_t>(p - buf));
}

}  // namespace

std::string FatTimeText(uint16_t date, uint16_t time) {
  return DateTimeText((date >> 9) + 1980, (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63,
                      (time & 31) * 2);
}

std::string NtfsTimeText(uint64_t ntfsTime) {
  uint64_t seconds = ntfsTime / 10000000;
  int second = static_cast<int>(seconds % 60);
  int minute = static_cast<int>((seconds / 60) % 60);
  uint64_t hours = seconds / 3600 + 8;
  int hour = static_cast<int>(hours % 24);
  uint64_t days = hours / 24;  // since 1601-01-01
  int year = 1601;
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  // Whole 400-year cycles first, so a hostile time cannot make this loop long.
  constexpr uint64_t kDaysPer400Years = 146097;
  year += static_cast<int>(days / kDaysPer400Years) * 400;
  days %= kDaysPer400Years;
  while (days >= static_cast<uint64_t>(leap(year) ? 366 : 365)) {
    days -= leap(year) ? 366 : 365;
    ++year;
  }
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (month < 11) {
    int length = kMonthDays[month] + (month == 1 && leap(year) ? 1 : 0);
    if (days < static_cast<uint64_t>(length)) break;
    days -= static_cast<uint64_t>(length);
    ++month;
  }
  return DateTimeText(year, month + 1, static_cast<int>(days) + 1, hour, minute, second);
}

}  // namespace brevid
