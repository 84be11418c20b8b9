#include "fs/file_entry.h"

#include "common/text.h"
#include "platform/codepage.h"

namespace brevid {

const std::string& KindStatusText(uint8_t kind) {
  static const std::string texts[] = {"", Ansi("已删除文件夹"), Ansi("已删除文件"),
                                      Ansi("正常文件夹"), Ansi("正常文件")};
  return kind <= 4 ? texts[kind] : texts[0];
}

namespace {

// "%d-%02d-%02d %02d:%02d:%02d" without printf: the trees show three of
// these for every entry.
void AssignDateTime(std::string* out, int year, int month, int day, int hour, int minute,
                    int second) {
  char buf[32];
  char* p = buf;
  char digits[12];
  int n = 0;
  unsigned y = static_cast<unsigned>(year);
  do digits[n++] = static_cast<char>('0' + y % 10);
  while ((y /= 10) != 0);
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
  out->assign(buf, static_cast<size_t>(p - buf));
}

}  // namespace

std::string FatTimeText(uint16_t date, uint16_t time) {
  std::string text;
  AssignDateTime(&text, (date >> 9) + 1980, (date >> 5) & 15, date & 31, time >> 11,
                 (time >> 5) & 63, (time & 31) * 2);
  return text;
}

namespace {

void AssignStamp(std::string* out, uint16_t date, uint16_t time, bool oddSecond) {
  AssignDateTime(out, (date >> 9) + 1980, (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63,
                 (time & 31) * 2 + (oddSecond ? 1 : 0));
}

}  // namespace

void AssignCreatedText(const FileEntry& e, std::string* out) {
  AssignStamp(out, e.createDate, e.createTime, e.exfat & kExfatCreateOddSecond);
}

void AssignModifiedText(const FileEntry& e, std::string* out) {
  AssignStamp(out, e.writeDate, e.writeTime, e.exfat & kExfatWriteOddSecond);
}

std::string CreatedText(const FileEntry& e) {
  std::string text;
  AssignCreatedText(e, &text);
  return text;
}

std::string ModifiedText(const FileEntry& e) {
  std::string text;
  AssignModifiedText(e, &text);
  return text;
}

std::string NtfsTimeText(uint64_t ntfsTime) {
  std::string text;
  AssignNtfsTimeText(ntfsTime, &text);
  return text;
}

void AssignNtfsTimeText(uint64_t ntfsTime, std::string* out) {
  uint64_t seconds = ntfsTime / 10000000;
  int second = static_cast<int>(seconds % 60);
  int minute = static_cast<int>((seconds / 60) % 60);
  uint64_t hours = seconds / 3600 + 8;
  int hour = static_cast<int>(hours % 24);
  // A volume's times fall on few days: the last day's date is kept.
  struct Date {
    uint64_t days = UINT64_MAX;
    int year = 0, month = 0, day = 0;
  };
  thread_local Date last;
  const uint64_t days = hours / 24;
  if (days != last.days) {
    // Days since 1601-01-01 to a Gregorian date, counted in whole 400-year
    // eras from 0000-03-01 so that leap days fall at the end of each year.
    constexpr int64_t kDaysFrom0000To1601 = 584694;  // 0000-03-01 .. 1601-01-01
    int64_t z = static_cast<int64_t>(days) + kDaysFrom0000To1601;
    int64_t era = z / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    last.days = days;
    last.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    last.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    last.year = static_cast<int>(yearOfEra + era * 400 + (last.month <= 2 ? 1 : 0));
  }
  AssignDateTime(out, last.year, last.month, last.day, hour, minute, second);
}

}  // namespace brevid
