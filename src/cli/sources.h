// Turning SOURCE arguments (image files, device nodes, disk numbers) into
// disks of a DiskList.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "device/disk_info.h"
#include "platform/progress.h"
#include "tasks/disk_list.h"

namespace brevid::cli {

// Adds the disk named by `source` (UTF-8, as typed) to `list`: a disk number
// picks that physical disk, anything else is opened as an image file or
// device node. Returns the disk, or nullptr with *error set.
DiskInfo* AddSource(DiskList& list, const std::string& source, std::string* error);

// Adds `source` and then each `--with` image (further member disks of
// dynamic-disk groups or LVM2 volume groups) to `list`. Returns the source's
// disk, or nullptr with *error set when any of them cannot be opened.
DiskInfo* AddSources(DiskList& list, const std::string& source,
                     const std::vector<std::string>& with, std::string* error);

// `--results FILE` (UTF-8): when the file exists, reads it into the disk of
// `list` whose key it carries, before the command looks up its volume. A
// file for no disk of the list is reported on standard error and changes
// nothing. False (with *error) when the file exists but cannot be read.
bool ApplyResultsFile(DiskList& list, const std::string& utf8File, std::string* error);

// `--bad-map MAPFILE` (UTF-8, GNU ddrescue's format) of an image made from a
// failing disk: every range the map does not call finished is recorded in
// `disk`, so that a file reading any of it is reported as not whole. Nothing
// to do for an empty name; false (with *error) for a file that cannot be read
// or is no map.
bool ApplyBadMap(DiskInfo& disk, const std::string& utf8File, std::string* error);

// Writes `disk`'s results to `utf8File` (nothing to do when it is empty);
// false after saying why on standard error.
bool WriteResults(const DiskInfo& disk, const std::string& utf8File);

// `--results FILE` of a scan, checked before anything is scanned: it must
// not reach a source, and must be a regular file holding this disk's
// results (then read into `disk`) or not exist yet in a folder that can be
// written. False with *error otherwise: a file the scan could not keep its
// findings in, or would have to overwrite, stops it before it starts.
bool OpenResultsForScan(DiskList& list, DiskInfo& disk, const std::string& utf8File,
                        std::string* error);

// The scans' shared options: --results FILE and --json, with the help
// footer that says how the file is checked and what the exit codes mean.
void AddScanOutputOptions(CLI::App* sub, std::string* results, bool* json);

// The end of a scan whose findings were printed: writes the result file and
// says "已停止" when the user stopped it. The exit status.
int ScanExit(const DiskInfo& disk, const std::string& utf8File, const ProgressRecord& progress);

// The volume of `disk` whose item text (mount point or partition name) or
// partition name is `utf8Name`; nullptr with *error listing the choices.
VolumeInfo* LookUpVolume(DiskInfo& disk, const std::string& utf8Name, std::string* error);

// As LookUpVolume on *disk first, then on every other disk of `list`, group
// pseudo-disks included; *disk becomes the disk that holds the volume.
VolumeInfo* LookUpVolumeInList(DiskList& list, DiskInfo** disk, const std::string& utf8Name,
                               std::string* error);

}  // namespace brevid::cli
