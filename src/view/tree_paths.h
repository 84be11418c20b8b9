// Paths of tree nodes as `brevid tree` prints them ("根目录/a/b", UTF-8),
// the node a path names, and the item the file pane hands to a save for a
// node. Handles come from a NodeTable and follow its lifetime.
#pragma once

#include <optional>
#include <string>

#include "tasks/save_run.h"
#include "view/node_handle.h"

namespace brevid {

// The UTF-8 path from the node's pseudo folder down; empty for a null handle.
std::string PathOf(NodeHandle node);

// The node at `utf8Path` below the pane's root or scattered folder, each
// name matched in CP936 or UTF-8, the first child of that name taken. Empty
// parts ("a//b", a trailing "/") are ignored. Null when nothing matches.
NodeHandle NodeAtPath(const NodeTable& table, const std::string& utf8Path);

// Number, name and creation-time text of the node, as its list item shows them.
SaveItem SaveItemOf(NodeHandle node);

// SaveItemOf the node at `utf8Path`; none when nothing matches.
std::optional<SaveItem> ItemForPath(const NodeTable& table, const std::string& utf8Path);

}  // namespace brevid
