// PDF: from "%PDF-1." to the "%%EOF" of its last revision. Incremental
// updates and linearized files hold several "%%EOF"; the file goes on past
// one when the bytes after it (after line ends) start another revision: an
// object, a cross-reference table or a comment.
#include "format/carvers/carver.h"

namespace brevid::carve {
namespace {

constexpr std::string_view kMagic = "%PDF-1.";
constexpr std::string_view kEnd = "%%EOF";
constexpr uint64_t kBound = 100 * kMiB;
constexpr size_t kAhead = 16;  // what the continuation test looks at

bool IsLineEnd(uint8_t b) { return b == '\r' || b == '\n'; }

// Whether `b` (the bytes just after an end marker's line ends) starts more
// of the same file.
bool Continues(Bytes b) {
  if (b.empty()) return false;
  if (b[0] >= '1' && b[0] <= '9') return true;  // "12 0 obj"
  return BytesEqual(b, 0, "xref") || (BytesEqual(b, 0, "%") && !BytesEqual(b, 0, kMagic));
}

bool Starts(Bytes head) { return BytesEqual(head, 0, kMagic); }

CarveResult Carve(Context& c) {
  uint64_t end = 0;
  for (uint64_t from = kMagic.size();;) {
    std::optional<uint64_t> at = Search(c, from, kBound, '%', kEnd.size(), SearchSlot::kPdfEnd,
                                        [](Bytes w, size_t i) { return BytesEqual(w, i, kEnd); });
    if (!at) break;
    from = *at + kEnd.size();
    // The end marker's own line end (CR, LF or CR LF) belongs to the file;
    // a next revision may follow after more of them.
    Bytes after = c.at.At(from, kAhead);
    size_t n = 0;
    if (BytesEqual(after, 0, "\r\n"))
      n = 2;
    else if (!after.empty() && IsLineEnd(after[0]))
      n = 1;
    end = from + n;
    while (n < after.size() && IsLineEnd(after[n])) ++n;
    if (!Continues(after.subspan(n))) break;
  }
  return RecordNumbered(c, end, ".pdf");
}

}  // namespace

const Carver kPdf{"pdf", Starts, Carve, "%", "pdf"};

}  // namespace brevid::carve
