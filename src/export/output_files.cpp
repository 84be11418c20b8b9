#include "export/output_files.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "common/text.h"
#include "device/volume_reader.h"
#include "platform/codepage.h"
#include "platform/file_system.h"

namespace brevid {

std::string NextFreeName(const std::string& path, int* counter) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  std::string ext = hasDot ? path.substr(dot + 1) : "";
  for (;; ++*counter) {
    std::string candidate = path + std::to_string(*counter) + (hasDot ? "." + ext : "");
    if (!PathOrLinkExists(candidate)) {
      ++*counter;
      return candidate;
    }
  }
}

bool OpenOutputFile(TargetHandle* file, std::string* path, int* counter) {
  // Made new with O_EXCL: the open itself tells a name taken by a file or a
  // link, and a new file needs no truncating.
  int next = 0;
  std::string candidate = *path;
  bool folderMade = false;
  for (;;) {
    *file = TargetHandle::Open(candidate, TargetHandle::Mode::kCreateNew);
    if (file->IsOpen()) break;
    if (errno == EEXIST) {
      candidate = NextFreeName(*path, &next);
      continue;
    }
    const size_t slash = candidate.rfind('/');
    if (errno != ENOENT || folderMade || slash == std::string::npos ||
        !CreateDirectoryChain(candidate.substr(0, slash)))
      return false;
    folderMade = true;
  }
  *path = candidate;
  if (counter) *counter = next;
  return true;
}

OutputSeal::OutputSeal(const SaveRequest& request, TargetHandle& out, std::string path,
                       uint64_t expectedBytes)
    : request_(request),
      out_(out),
      path_(std::move(path)),
      expected_(expectedBytes),
      unreadAtStart_(request.reader ? request.reader->UnreadBytes() : 0),
      cutAtStart_(request.stats ? request.stats->cutAtEnd : 0) {}

OutputSeal::~OutputSeal() {
  if (!request_.stats) return;
  const bool failed = out_.WriteFailed();
  const bool cutOff = !failed && request_.Stopped() && out_.Position() < expected_;
  const uint64_t unread = request_.reader ? request_.reader->UnreadBytes() - unreadAtStart_ : 0;
  std::string why;
  if (failed) {
    why = "写入失败 (目标已满或不可写), 文件不完整";
  } else if (cutOff) {
    why = "已停止, 文件不完整";
  } else if (unread > 0) {
    why = Format("源上 %llu 字节读不出或所在磁盘缺失, 以零填充",
                 static_cast<unsigned long long>(unread));
  } else if (request_.stats->cutAtEnd != cutAtStart_) {
    why = "大小超出卷或源的末尾, 只写到末尾";
  } else {
    return;
  }
  std::string path = path_;
  if (failed || cutOff) {
    const bool empty = out_.Position() == 0;
    out_.Close();
    if (empty) {
      RemoveFile(path_);
      path.clear();
    } else {
      int counter = 0;
      std::string partial = path_ + ".partial";
      if (PathExists(partial) || IsSymbolicLink(partial)) partial = NextFreeName(partial, &counter);
      if (RenameFile(path_, partial)) path = partial;
    }
  }
  request_.stats->notWhole.push_back({path.empty() ? path_ : path, why});
}

bool CreateDirectoryChain(const std::string& folder) {
  if (folder.empty()) return false;
  if (IsFolder(folder)) return true;
  // From the folder itself up to the first one that exists: a target's
  // folders are made once each, not every ancestor asked for again.
  if (CreateFolder(folder)) return true;
  if (errno != ENOENT) return false;
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos || slash == 0 || !CreateDirectoryChain(folder.substr(0, slash)))
    return false;
  return CreateFolder(folder);
}

bool RepairFileName(std::string* name, const NameRepair& repair) {
  *name = WideToAnsi(AnsiToWide(*name));
  if (!repair.automatic) return true;
  static constexpr std::string_view kReserved = "?/:*\\\"<>|";
  std::string out;
  for (size_t i = 0; i < name->size(); ++i) {
    unsigned char c = static_cast<unsigned char>((*name)[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < name->size()) {  // both bytes of a CP936 character
      out += (*name)[i];
      out += (*name)[++i];
    } else if (kReserved.find(static_cast<char>(c)) != std::string_view::npos) {
      out += repair.replacement;
    } else {
      out += static_cast<char>(c);
    }
  }
  *name = out;
  return true;
}

std::string SafeComponent(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
      out += name[i];
      out += name[++i];
    } else {
      out += (c == '/' || c == '\0') ? '$' : static_cast<char>(c);
    }
  }
  if (out.empty() || out == "." || out == "..") out = std::string(out.size() + 1, '$');
  return out;
}

std::string FileExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  // ".jpg" is a name without an extension, not a picture.
  std::string ext = dot == std::string::npos ? name : dot == 0 ? "" : name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c < 0x80 ? std::tolower(c) : c); });
  return ext;
}

bool IsTypedExtension(const std::string& ext, bool multiVariant) {
  static const std::array<std::string_view, 14> kTyped = {"jpg",  "jpeg", "doc",  "ppt", "xls",
                                                          "pdf",  "mpeg", "avi",  "mp4", "zip",
                                                          "docx", "pptx", "xlsx", "rar"};
  size_t count = multiVariant ? 5 : kTyped.size();
  return std::find(kTyped.begin(), kTyped.begin() + static_cast<long>(count), ext) !=
         kTyped.begin() + static_cast<long>(count);
}

}  // namespace brevid
