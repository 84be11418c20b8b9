// The recovered file tree of one volume, its indexes, and the maps the
// file-system readers keep beside it. Lives in VolumeInfo::trees, is built by
// one worker and read afterwards (the busy flag keeps the two apart).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/volume_info.h"
#include "format/data_run.h"
#include "fs/file_entry.h"
#include "fs/node_index.h"

namespace brevid {

using NodeRef = std::variant<FileEntry*, NtfsEntry*>;
// Keys point at the nodes' own names, which never move while the tree lives.
using NameIndex = NodeIndex<std::string_view, NodeRef>;
using FatIndex = NodeIndex<uint32_t, FileEntry*>;

struct VolumeTrees {
  VolumeTrees();
  VolumeTrees(const VolumeTrees&) = delete;
  VolumeTrees& operator=(const VolumeTrees&) = delete;

  // Nodes enter it when it is first looked at after placing (NameIndexOf),
  // in the order they were placed.
  NameIndex nameIndex;
  size_t fatNamed = 0;   // FAT nodes entered in nameIndex so far
  size_t ntfsNamed = 0;  // NTFS nodes entered in nameIndex so far

  // FAT
  std::vector<uint8_t> fatTable;  // the first FAT as read, kept for the savers
  FileEntry fatRoot;              // "根目录"
  FileEntry fatScattered;         // "零散目录"
  NodeStore<FileEntry> fatNodes;  // every FAT node but the pseudo folders
  // By first cluster: the pseudo folders enter them when a walk starts,
  // placed nodes when they are first looked at (IndexFatNodes).
  FatIndex fatNormalIndex;
  FatIndex fatDeletedIndex;
  size_t fatIndexed = 0;  // FAT nodes entered in the two so far
  std::mutex fatIndexing;
  // exFAT files whose valid data ends before their size: the rest reads as zeros.
  std::map<const FileEntry*, uint64_t> exfatValidLength;

  // NTFS
  NtfsEntry ntfsRoot;              // "根目录", record 5
  NtfsEntry ntfsScattered;         // "零散目录", record 2
  NtfsEntry ntfsExtended;          // "扩展目录", record 1
  NodeStore<NtfsEntry> ntfsNodes;  // every NTFS node but the pseudo folders
  RecordIndex<NtfsEntry> ntfsIndex;
  std::multimap<uint32_t, NtfsEntry*> ntfsSpareIndex;
  DataRunMap mftRuns;
  std::map<uint32_t, uint64_t> recordFirstSector;
  std::multimap<uint32_t, uint64_t> recordSectors;

  // Start sectors of carved files that this tree shows as its own files: the
  // file pane lists them once, here. The disk's findings keep them.
  std::set<uint64_t> carvedInTree;
};

// The volume's trees, made (empty, with the pseudo folders named) on first use.
VolumeTrees& TreesOf(VolumeInfo& volume);

// nameIndex with every node placed so far.
NameIndex& NameIndexOf(VolumeTrees& trees);

// Releases the trees; pointers into them are invalid afterwards.
void ReleaseTrees(VolumeInfo& volume);

// Sets up the FAT roots for a new walk: "根目录" with `rootCluster` indexed as
// normal, "零散目录" indexed as deleted.
void StartFatTree(VolumeTrees& trees, uint32_t rootCluster);

// Enters the NTFS pseudo folders in ntfsIndex: "根目录" under 5, "零散目录"
// under 2 and, when `withExtended`, "扩展目录" under 1.
void StartNtfsTree(VolumeTrees& trees, bool withExtended = true);

// Where a FAT child goes in its parent's list and which first-cluster index
// it enters.
enum class FatPlacement {
  kByKind,         // folders at the front, files at the end; index by kind
  kAppendNormal,   // numbered folders under the root: at the end, normal index
  kAppendDeleted,  // numbered folders under the scattered folder: at the end, deleted index
};

// Moves `node` into the node store and `parent`'s children, marked for the
// first-cluster index it is to enter. Returns the node as it now stands in the store.
FileEntry* InsertFatChild(VolumeTrees& trees, FileEntry& parent, FileEntry node,
                          FatPlacement placement = FatPlacement::kByKind);

// Moves `node` into the node store and `parent`'s children (folders at the
// front, files at the end, or at the end when `append`) and indexes it: ntfsIndex when its number
// is free, else ntfsSpareIndex (always when `spare`).
NtfsEntry* InsertNtfsChild(VolumeTrees& trees, NtfsEntry& parent, NtfsEntry node,
                           bool append = false, bool spare = false);

// Enters the FAT nodes placed since the last call in fatNormalIndex or
// fatDeletedIndex. Safe to call from two threads at once.
void IndexFatNodes(VolumeTrees& trees);

// The FAT node with this first cluster, name and creation-time text: normal
// index first, then deleted. nullptr when none matches.
FileEntry* FindFatEntry(VolumeTrees& trees, uint32_t firstCluster, const std::string& name,
                        const std::string& createTimeText);

// The NTFS node with this record number, name and creation-time text:
// ntfsIndex first, then ntfsSpareIndex. nullptr when none matches.
NtfsEntry* FindNtfsEntry(VolumeTrees& trees, uint32_t recordNumber, const std::string& name,
                         const std::string& createTimeText);

}  // namespace brevid
