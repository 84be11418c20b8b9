#!/usr/bin/env python3
"""An NTFS image of about a million MFT records for bench/ntfs_million.sh.

mkntfs formats a sparse image; an ntfs-3g FUSE mount (root, /dev/fuse) then
takes FOLDERS folders of FILES small files each, so every record, index block
and bitmap is what a real driver writes. Deletions come last, after every
file exists, so that no later file takes a freed record: one file in LOSE
of every folder and every 100th folder with all it holds. Each file holds its
own path, small enough to stay inside its record.

  tools/make_ntfs_million.py OUTPUT [--folders 2000] [--files 500] [--lose 25]

The defaults give 1,002,000 names in 2,000 folders (about 10 minutes; the
FUSE round trips set the pace, not the disk). `ntfsls -R` and `fls -r -p`
list it.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time


def wait_for_mount(mnt, proc):
    for _ in range(100):
        if proc.poll() is not None:
            sys.exit("ntfs-3g stopped: " + proc.stderr.read().decode(errors="replace"))
        if os.path.ismount(mnt):
            return
        time.sleep(0.1)
    sys.exit("ntfs-3g did not mount")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("output")
    ap.add_argument("--folders", type=int, default=2000)
    ap.add_argument("--files", type=int, default=500)
    ap.add_argument("--lose", type=int, default=25, help="delete one file in LOSE")
    args = ap.parse_args()

    # An MFT record of 1 KiB and an index entry of about 100 bytes a name,
    # and as much again for the volume's own structures and slack.
    size = max(64 << 20, args.folders * args.files * 2600)
    tmp = args.output + ".tmp"
    with open(tmp, "wb") as f:
        f.truncate(size)
    subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", "-L", "Million", tmp], check=True)

    mnt = tempfile.mkdtemp(prefix="ntfs-million-")
    proc = subprocess.Popen(["ntfs-3g", "-o", "no_detach", tmp, mnt],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        wait_for_mount(mnt, proc)
        for d in range(1, args.folders + 1):
            folder = os.path.join(mnt, "dir%04d" % d)
            os.mkdir(folder)
            for n in range(1, args.files + 1):
                name = "file%04d.txt" % n
                with open(os.path.join(folder, name), "w") as f:
                    f.write("dir%04d/%s\n" % (d, name))
            if d % 100 == 0:
                print("%d folders" % d, file=sys.stderr, flush=True)
        for d in range(1, args.folders + 1):
            folder = os.path.join(mnt, "dir%04d" % d)
            if d % 100 == 50:
                for name in os.listdir(folder):
                    os.unlink(os.path.join(folder, name))
                os.rmdir(folder)
                continue
            for n in range(args.lose, args.files + 1, args.lose):
                os.unlink(os.path.join(folder, "file%04d.txt" % n))
    finally:
        subprocess.run(["umount", mnt])
        proc.wait()
        os.rmdir(mnt)
    os.rename(tmp, args.output)


if __name__ == "__main__":
    main()
