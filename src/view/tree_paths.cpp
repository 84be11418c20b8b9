#include "view/tree_paths.h"

#include <vector>

#include "platform/codepage.h"

namespace brevid {
namespace {

std::vector<std::string> SplitPath(const std::string& utf8) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= utf8.size()) {
    size_t slash = utf8.find('/', at);
    if (slash == std::string::npos) slash = utf8.size();
    if (slash > at) parts.push_back(utf8.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

bool NameMatches(const std::string& ansiName, const std::string& utf8Part,
                 const std::string& ansiPart) {
  return ansiName == ansiPart || AnsiToUtf8(ansiName) == utf8Part;
}

}  // namespace

std::string PathOf(NodeHandle node) {
  std::vector<std::string> names;
  for (; !node.IsNull(); node = node.Parent()) names.push_back(AnsiToUtf8(node.ShownName()));
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "/") + *it;
  return path;
}

NodeHandle NodeAtPath(const NodeTable& table, const std::string& utf8Path) {
  std::vector<std::string> parts = SplitPath(utf8Path);
  if (parts.empty()) return {};
  NodeHandle node;
  for (NodeHandle top : {table.Root(), table.Scattered()})
    if (NameMatches(top.ShownName(), parts[0], Utf8ToAnsi(parts[0]))) {
      node = top;
      break;
    }
  for (size_t i = 1; i < parts.size() && !node.IsNull(); ++i) {
    std::string ansi = Utf8ToAnsi(parts[i]);
    NodeHandle next;
    for (size_t c = 0; c < node.ChildCount() && next.IsNull(); ++c) {
      NodeHandle child = node.Child(c);
      if (NameMatches(child.Name(), parts[i], ansi) ||
          NameMatches(child.ShownName(), parts[i], ansi))
        next = child;
    }
    node = next;
  }
  return node;
}

SaveItem SaveItemOf(NodeHandle node) { return {node.Number(), node.Name(), node.CreatedText()}; }

std::optional<SaveItem> ItemForPath(const NodeTable& table, const std::string& utf8Path) {
  NodeHandle node = NodeAtPath(table, utf8Path);
  if (node.IsNull()) return std::nullopt;
  return SaveItemOf(node);
}

}  // namespace brevid
