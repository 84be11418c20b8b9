// Saving FAT entries: along the FAT chain, as consecutive clusters, or by
// the start-cluster search for typed files.
#pragma once

#include <string>

#include "common/endian.h"
#include "export/save_request.h"
#include "fs/file_entry.h"
#include "platform/target_handle.h"

namespace brevid {

// Saves `entry` (a file, or a folder with everything below it) into
// request.folder. Runs on the save worker; stops when the request says so.
void SaveFatEntry(const SaveRequest& request, const FileEntry& entry);

// Copies `entry` along the volume's FAT chain to `path`.
void CopyFatChain(const SaveRequest& request, const FileEntry& entry, std::string path);

// Copies `entry` as consecutive clusters from its first cluster to `path`;
// typed extensions go through the start-cluster search instead.
void CopyFatContiguous(const SaveRequest& request, const FileEntry& entry, std::string path);

// Tries every cluster that shares the entry's stored low 16 bits and writes
// one file of the entry's size (cut at the source's end) from each whose
// first bytes carry the signature of `extension`. `output` (already open at
// `path`, the free name chosen for `givenPath`) takes the first match and is
// closed then; later ones go to free names of `givenPath` counted on from
// `counter`. Returns the matches; with none, `output` is left open and empty.
int SearchStartCluster(const SaveRequest& request, const FileEntry& entry,
                       const std::string& extension, const std::string& givenPath, std::string path,
                       TargetHandle& output, int counter);

// Bytes from byte `position` to the end of the request's volume and of its
// source: what a deleted file starting there can hold at most.
uint64_t BytesToVolumeEnd(const SaveRequest& request, uint64_t position);

// Bytes from `position` to the end of the source.
uint64_t BytesToSourceEnd(const SaveRequest& request, uint64_t position);

}  // namespace brevid
