// The terminal side of the CLI: UTF-8 output of CP936 texts, aligned tables,
// message boxes on standard error and a progress bar.
#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/progress.h"

namespace brevid::cli {

// Columns of text in UTF-8, padded by display width (CJK characters take two).
class TextTable {
 public:
  void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  void Print(std::FILE* out) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// The same table for rows too many to hold: Measure every row, then
// PrintRow each in the same order.
class StreamedTable {
 public:
  void Measure(const std::vector<std::string>& cells);
  void PrintRow(std::FILE* out, const std::vector<std::string>& cells) const;
  // The same over cells kept elsewhere: a listing's rows are not copied.
  void Measure(std::span<const std::string* const> cells);
  void PrintRow(std::FILE* out, std::span<const std::string* const> cells) const;

 private:
  std::vector<size_t> widths_;
  mutable std::string scratch_;  // one row's text, its capacity kept from row to row
};

size_t DisplayWidth(const std::string& utf8);

// `utf8` with every control character (C0, DEL, C1) as "?": names from a
// disk may hold ESC or CR LF, which would forge lines or drive the terminal.
// Tables print their cells through it.
std::string PrintableText(const std::string& utf8);

// Routes the engine's message boxes to standard error; questions are
// answered with the default button, since no one may be at the keyboard.
void InstallTerminalMessageBoxes();

// A progress bar on standard error, drawn only when it is a terminal.
class TerminalProgress final : public ProgressTarget {
 public:
  // `recaption`, when given, is asked on every message (on the worker's
  // thread) for a new caption: what a scan has found so far, a rate.
  // Returning an empty text keeps the caption as it is.
  using Recaption = std::function<std::string(uint32_t message, uint64_t wParam)>;
  explicit TerminalProgress(std::string caption, Recaption recaption = {});
  ~TerminalProgress() override;
  void Send(uint32_t message, uint64_t wParam, uint64_t lParam) override;
  // Shows `caption` (UTF-8) from the next drawing on.
  void SetCaption(std::string caption);
  void Post(uint32_t message, uint64_t wParam, uint64_t lParam) override {
    Send(message, wParam, lParam);
  }

 private:
  void Draw();
  std::string caption_;
  Recaption recaption_;
  bool enabled_;
  uint64_t range_ = 0;
  uint64_t step_ = 1;
  uint64_t position_ = 0;
  int lastPercent_ = -1;
};

}  // namespace brevid::cli
