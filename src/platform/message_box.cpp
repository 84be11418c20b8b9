#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

#include "platform/codepage.h"

namespace brevid {
namespace {

std::mutex& BoxMutex() {
  static std::mutex m;
  return m;
}

MessageBoxHandler& Installed() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(BoxMutex());
  MessageBoxHandler old = std::move(Installed());
  Installed() = std::move(handler);
  return old;
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
  std::lock_guard lock(BoxMutex());
  if (Installed()) return Installed()(text, caption, style);
  std::fprintf(stderr, "[%s] %s\n", AnsiToUtf8(caption).c_str(), AnsiToUtf8(text).c_str());
  return (style & 0xF) == kMbYesNo ? kIdYes : kIdOk;
}

}  // namespace brevid
