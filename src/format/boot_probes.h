// Recognisers of volume boot sectors and file-system headers, shared by the
// partition walk and the scans. Each takes the bytes as read; fields outside
// the span read as 0, so a short read simply fails the test.
#pragma once

#include <cstdint>
#include <string>

#include "common/endian.h"

namespace brevid {

// Boot sector offsets (FAT, NTFS and exFAT share the first ones).
namespace boot {
constexpr size_t kOemName = 0x03;
constexpr size_t kBytesPerSector = 0x0B;      // u16
constexpr size_t kSectorsPerCluster = 0x0D;   // u8
constexpr size_t kReservedSectors = 0x0E;     // u16
constexpr size_t kFatCount = 0x10;            // u8
constexpr size_t kRootEntries = 0x11;         // u16
constexpr size_t kTotalSectors16 = 0x13;      // u16
constexpr size_t kFatSectors16 = 0x16;        // u16
constexpr size_t kHiddenSectors = 0x1C;       // u32
constexpr size_t kTotalSectors32 = 0x20;      // u32
constexpr size_t kFat32Sectors = 0x24;        // u32
constexpr size_t kFat32RootCluster = 0x2C;    // u32
constexpr size_t kFat32BackupBoot = 0x32;     // u16
constexpr size_t kFat16FsType = 0x36;         // "FAT16"
constexpr size_t kFat32FsType = 0x52;         // "FAT32"
constexpr size_t kNtfsTotalSectors = 0x28;    // u64
constexpr size_t kNtfsMftCluster = 0x30;      // u64
constexpr size_t kNtfsMirrorCluster = 0x38;   // u64
constexpr size_t kNtfsRecordClusters = 0x40;  // i8: clusters, or 2^-n bytes when negative
constexpr size_t kNtfsIndexClusters = 0x44;   // u32
constexpr size_t kExfatVolumeLength = 0x48;   // u64
constexpr size_t kExfatHeapOffset = 0x58;     // u32
constexpr size_t kExfatRootCluster = 0x60;    // u32
constexpr size_t kExfatSectorShift = 0x6C;    // u8
constexpr size_t kExfatClusterShift = 0x6D;   // u8
constexpr size_t kSignature = 0x1FE;          // u16 0xAA55
constexpr uint16_t kSignatureValue = 0xAA55;
}  // namespace boot

// EXT superblock offsets (the superblock is the 1024 bytes at volume byte 1024).
namespace extsb {
constexpr size_t kInodes = 0x00;
constexpr size_t kBlocksLo = 0x04;
constexpr size_t kFreeBlocksLo = 0x0C;
constexpr size_t kFreeInodes = 0x10;
constexpr size_t kFirstDataBlock = 0x14;
constexpr size_t kLogBlockSize = 0x18;
constexpr size_t kBlocksPerGroup = 0x20;
constexpr size_t kInodesPerGroup = 0x28;
constexpr size_t kWriteTime = 0x30;
constexpr size_t kMagic = 0x38;  // u16 0xEF53
constexpr size_t kCreatorOs = 0x48;
constexpr size_t kInodeSize = 0x58;
constexpr size_t kCompatFeatures = 0x5C;
constexpr size_t kIncompatFeatures = 0x60;
constexpr size_t kVolumeName = 0x78;  // 16 bytes
constexpr size_t kBlocksHi = 0x150;
constexpr size_t kFreeBlocksHi = 0x158;
constexpr uint16_t kMagicValue = 0xEF53;
constexpr uint32_t kCompatHasJournal = 0x4;
constexpr uint32_t kIncompatExtents = 0x40;
}  // namespace extsb

bool IsNtfsBoot(Bytes sector);

// An NTFS boot sector's sectors per cluster: the byte at 0x0D, or, for a
// byte above 0x80 (clusters over 64 KiB), 2 to the power of 256 minus it;
// 0 for a power beyond clusters of 2 MiB.
uint32_t NtfsSectorsPerCluster(Bytes bootSector);
bool IsFat32Boot(Bytes sector);

// The sector counts the boot sectors give: NTFS the u64 at 0x28, FAT32 the
// u32 at 0x20, FAT16 the u32 at 0x20 or, when that is 0, the u16 at 0x13.
uint64_t NtfsSectorCount(Bytes bootSector);
uint64_t Fat32SectorCount(Bytes bootSector);
uint64_t Fat16SectorCount(Bytes bootSector);

// Where an NTFS volume keeps its $MFT: sectors per cluster x the MFT's
// start cluster, in sectors from the volume's start (saturated).
uint64_t NtfsMftOffset(Bytes bootSector);
// Bytes per MFT record from an NTFS boot sector (byte 0x40); 0 when the
// value gives no size between 256 bytes and 64 KiB.
uint32_t NtfsRecordBytes(Bytes bootSector);
bool IsFat16Boot(Bytes sector);
bool IsExfatBoot(Bytes sector);
// An exFAT boot sector's volume length (u64 at 0x48, in its own sectors of
// 2^(byte 0x6C) bytes) in sectors of 512 bytes, saturated; 0 for a sector
// shift outside 9 to 12.
uint64_t ExfatSectorCount(Bytes bootSector);
// The superblock's consistency tests: magic, creator OS, inode size, block
// size, group sizes, free counts below totals. A volume fresh from mke2fs
// (never mounted, perhaps one block group) passes.
bool IsExtSuperblockConsistent(Bytes superblock);

// Classifies an HFS-family header (the bytes at volume byte 1024): 1 "BD"
// (HFS), 4 "BD" wrapping "H+" at 0x7C, 2 "H+", 3 "HX", else 0.
uint32_t HfsSignatureKind(Bytes header);

// "EXT2" without a journal, "EXT3" with a journal and no extents, else "EXT4".
std::string ExtFlavour(Bytes superblock);

// Block size x blocks count (low 32 bits), in units of `sectorSize`.
uint64_t ExtVolumeSectors(Bytes superblock, uint32_t sectorSize);

// The superblock's volume name, up to its first NUL.
std::string ExtVolumeName(Bytes superblock);

// The volume name of an HFS master directory block: a length byte at 0x24,
// then that many characters (at most 27).
std::string HfsMdbVolumeName(Bytes mdb);

}  // namespace brevid
