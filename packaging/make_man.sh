#!/usr/bin/env bash
# Writes the man pages brevid(1) and brevid-gui(1) from the programs' own
# help, so that they never fall behind: every command with its options, and
# the exit statuses. Gzipped as Debian wants them.
# Usage: packaging/make_man.sh BREVID BREVID_GUI VERSION OUT_DIR
set -euo pipefail
brevid=$1 gui=$2 version=$3 out=$4
mkdir -p "$out"
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

# Help text as a literal block: no line may start with a troff control.
# The programs' own paths become their names.
literal() {
  printf '.nf\n'
  sed -e "s|$brevid|brevid|g" -e "s|$gui|brevid-gui|g" -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
  printf '.fi\n'
}

{
  printf '.TH BREVID 1 "" "brevid %s" "User Commands"\n' "$version"
  printf '.SH NAME\nbrevid \\- recover deleted files, folders and partitions from disks and images\n'
  printf '.SH SYNOPSIS\n.B brevid\n.I COMMAND\n[\\fIOPTIONS\\fR]\n'
  printf '.SH DESCRIPTION\n'
  printf 'Brevid reads a disk or a raw image sector by sector, never writing to it, and\n'
  printf 'gets back what the file system no longer shows: deleted files and folders on\n'
  printf 'FAT16, FAT32, exFAT and NTFS, reformatted volumes, lost partitions and files found by\n'
  printf 'their signatures. It saves chosen files to another volume, keeps scan results\n'
  printf 'in a text file, and images failing disks with a list of unreadable sectors.\n'
  printf '.PP\n'
  "$brevid" --help | literal
  for command in $("$brevid" --help | awk '/^Subcommands:/ {on = 1; next} on && !NF {exit} on {print $1}'); do
    printf '.SH "%s"\n' "$(echo "$command" | tr '[:lower:]' '[:upper:]')"
    "$brevid" "$command" --help | literal
  done
  printf '.SH "EXIT STATUS"\n'
  printf '.TP\n0\nEverything asked was done, and every file chosen was written whole.\n'
  printf '.TP\n1\nA failure, a refusal, or any loss; the summary names it.\n'
  printf '.TP\n2\nBad usage.\n'
  printf '.TP\n130\nStopped with Ctrl-C, after keeping what was done.\n'
  printf '.SH "SEE ALSO"\n.BR brevid-gui (1)\n'
} >"$out/brevid.1"

{
  printf '.TH BREVID-GUI 1 "" "brevid %s" "User Commands"\n' "$version"
  printf '.SH NAME\nbrevid-gui \\- the Brevid recovery window\n'
  printf '.SH SYNOPSIS\n.B brevid-gui\n[\\fIOPTIONS\\fR] [\\fIIMG\\fR...]\n'
  printf '.SH DESCRIPTION\n'
  printf 'The window of Brevid, in Simplified Chinese: the physical disks and the given\n'
  printf 'image files with their volumes, deleted-file and format recovery, the\n'
  printf 'lost-partition search, the deep scan, imaging and scan-result files. Reading\n'
  printf 'physical disks needs root or read access to the block devices.\n'
  printf '.PP\n'
  "$gui" --help | literal
  printf '.SH "SEE ALSO"\n.BR brevid (1)\n'
} >"$out/brevid-gui.1"

gzip -9nf "$out/brevid.1" "$out/brevid-gui.1"
