// Volumes that volume managers describe: LVM2 logical volumes made by the
// lvm2 tools, dynamic-disk volumes made by Windows (checked against ldmtool's
// report), Apple partition maps made by Apple's tools. Reads and saves go
// through the command line, member images given with --with.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "common/endian.h"
#include "format/ldm.h"
#include "platform/source_opener.h"
#include "support/file_bytes.h"
#include "support/file_hash.h"
#include "support/image_under_test.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "tasks/disk_list.h"

namespace brevid {
namespace {

std::string Brevid(const std::string& args) { return "'" + test::CliPath() + "' " + args; }

std::string Q(const std::string& path) { return "'" + path + "'"; }

bool HaveFixture(const std::string& name) {
  return std::filesystem::exists(test::FixturePath(name));
}

const VolumeInfo* Named(const DiskInfo& disk, const std::string& name) {
  for (const VolumeInfo& v : disk.volumes)
    if (v.name == name) return &v;
  return nullptr;
}

TEST(LvmVolumes, LogicalVolumesListReadAndSaveThroughTheirSegments) {
  if (!HaveFixture("lvm_a.img")) GTEST_SKIP() << "no LVM fixture (needs root, losetup, lvm2)";
  std::string a = test::FixturePath("lvm_a.img"), b = test::FixturePath("lvm_b.img");
  test::UnchangedImage keepA(a), keepB(b);

  DiskList list;
  ASSERT_TRUE(AddImageFile(list, a));
  const DiskInfo& pv0 = list.back();
  EXPECT_EQ(pv0.pvUuid, "BrvPv0" + std::string(26, '0'));
  EXPECT_EQ(pv0.extentSize, 2048u);
  EXPECT_EQ(pv0.peStart, 2048u);
  ASSERT_EQ(pv0.logicalVolumes.size(), 4u);
  ASSERT_EQ(pv0.volumes.size(), 4u);
  const VolumeInfo* fat = Named(pv0, "lv_fat");
  const VolumeInfo* video = Named(pv0, "lv_video");
  const VolumeInfo* many = Named(pv0, "lv_many");
  const VolumeInfo* span = Named(pv0, "lv_span");
  ASSERT_TRUE(fat && video && many && span);
  EXPECT_EQ(fat->fsType, kFsFat32);
  EXPECT_EQ(fat->sectorCount, 36u * 2048);
  EXPECT_EQ(fat->members.size(), 3u);
  EXPECT_EQ(video->layout, VolumeLayout::Simple);
  EXPECT_EQ(video->start, 2048u + 10 * 2048);
  ASSERT_EQ(many->members.size(), 11u);
  EXPECT_EQ(many->members.at(10).start, 2048u + 51 * 2048);
  EXPECT_EQ(span->fsType, kFsFat16);
  EXPECT_EQ(span->members.at(1).devicePath, "");  // pv1 not given yet

  ASSERT_TRUE(AddImageFile(list, b));
  EXPECT_EQ(span->members.at(1).devicePath, b);

  // The FAT32 read through three segments saves as the same volume made
  // contiguous does.
  std::string out = test::ScratchDir("lvm_save");
  test::CommandResult lv =
      test::RunCommand(Brevid("save " + Q(a) + " lv_fat --to " + Q(out + "/lv")));
  ASSERT_EQ(lv.status, 0) << lv.err;
  test::CommandResult whole = test::RunCommand(
      Brevid("save " + Q(test::FixturePath("lvm_fat.bin")) + " Partition0 --to " + Q(out + "/w")));
  ASSERT_EQ(whole.status, 0) << whole.err;
  auto saved = test::FilesUnder(out + "/lv");
  EXPECT_GT(saved.size(), 10u);
  EXPECT_EQ(saved, test::FilesUnder(out + "/w"));

  // A segment on the second image reads once that image is given.
  test::CommandResult spanned = test::RunCommand(
      Brevid("save " + Q(a) + " lv_span --with " + Q(b) + " --to " + Q(out + "/span")));
  ASSERT_EQ(spanned.status, 0) << spanned.err;
  EXPECT_EQ(test::ReadFile(out + "/span/根目录/SPAN.TXT"),
            test::ReadFile(test::FixturePath("lvm_span.txt")));
}

// One group as installers leave it: pv0 in MBR partition 2, pv1 in a GPT
// partition, pv2 a whole disk without a metadata copy; pv0's metadata text
// runs past the end of its area. Every volume lists and saves whichever disk
// is named first.
TEST(LvmVolumes, InstallerLayoutsInAnyOrder) {
  if (!HaveFixture("lvm_mbr.img")) GTEST_SKIP() << "no LVM fixture (needs root, losetup, lvm2)";
  const std::string m = test::FixturePath("lvm_mbr.img"), g = test::FixturePath("lvm_gpt.img"),
                    n = test::FixturePath("lvm_nomda.img");
  test::UnchangedImage keepM(m), keepG(g), keepN(n);
  std::string text = test::ReadFile(m).substr(10240 * 512 + 4096, 512);
  std::vector<uint8_t> header(text.begin(), text.end());
  EXPECT_GT(LoadLe64(header, 0x28) + LoadLe64(header, 0x30), LoadLe64(header, 0x20));  // wraps

  const uint64_t pe0 = 10240 + 128, pe1 = 2048 + 128;
  for (const auto& order : {std::vector<std::string>{m, g, n}, {n, g, m}, {g, n, m}}) {
    DiskList list;
    for (const std::string& path : order) ASSERT_TRUE(AddImageFile(list, path));
    const DiskInfo* dm = FindDisk(list, "lvm_mbr.img");
    const DiskInfo* dg = FindDisk(list, "lvm_gpt.img");
    const DiskInfo* dn = FindDisk(list, "lvm_nomda.img");
    ASSERT_TRUE(dm && dg && dn);
    const VolumeInfo* root = Named(*dm, "lv_root");
    const VolumeInfo* home = Named(*dg, "lv_home");
    const VolumeInfo* stripe = Named(*dm, "lv_stripe");
    const VolumeInfo* nomda = Named(*dn, "lv_nomda");
    ASSERT_TRUE(root && home && stripe && nomda && Named(*dm, "lv_home"));
    for (const VolumeInfo* v : {root, home, stripe, nomda, Named(*dm, "lv_home")})
      EXPECT_EQ(v->fsType, kFsFat16) << v->name;
    EXPECT_EQ(root->layout, VolumeLayout::Simple);
    EXPECT_EQ(root->start, pe0);
    EXPECT_EQ(root->label, "BRV_ROOT   ");  // the 11 bytes of the entry
    ASSERT_EQ(home->members.size(), 2u);
    EXPECT_EQ(home->members.at(0).devicePath, g);
    EXPECT_EQ(home->members.at(0).start, pe1);
    EXPECT_EQ(home->members.at(1).devicePath, m);
    EXPECT_EQ(home->members.at(1).start, pe0 + 4 * 2048);
    EXPECT_EQ(stripe->layout, VolumeLayout::Striped);
    EXPECT_EQ(stripe->stripeSectors, 128u);
    ASSERT_EQ(stripe->members.size(), 2u);
    EXPECT_EQ(stripe->members.at(0).start, pe0 + 6 * 2048);
    EXPECT_EQ(stripe->members.at(1).start, pe1 + 2 * 2048);
    EXPECT_EQ(stripe->members.at(1).sectorCount, 2u * 2048);
    EXPECT_EQ(nomda->start, 128u);
  }

  std::string out = test::ScratchDir("lvm_installer");
  struct Save {
    std::string source, volume, with, file;
  };
  for (const Save& s : {Save{m, "lv_root", "", "ROOT"}, Save{m, "lv_home", g, "HOME"},
                        Save{g, "lv_home", m, "HOME"}, Save{g, "lv_stripe", m, "STRIPE"},
                        Save{n, "lv_nomda", g, "NOMDA"}}) {
    std::string to = out + "/" + s.volume + std::to_string(s.source == m);
    std::string with = s.with.empty() ? "" : " --with " + Q(s.with);
    test::CommandResult r =
        test::RunCommand(Brevid("save " + Q(s.source) + " " + s.volume + with + " --to " + Q(to)));
    ASSERT_EQ(r.status, 0) << s.volume << r.err;
    std::string lower = s.file;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(test::ReadFile(to + "/根目录/" + s.file + ".TXT"),
              test::ReadFile(test::FixturePath("lvm_" + lower + ".txt")))
        << s.volume;
  }
}

TEST(LvmVolumes, PhysicalVolumeMadeElsewhere) {
  BREVID_REQUIRE_CORPUS();
  std::string image = test::UnpackCorpus("images/dfvfs/lvmtest.raw.gz");
  ASSERT_FALSE(image.empty());
  DiskInfo disk = test::WalkImage(image);
  EXPECT_EQ(disk.pvUuid, "btEzLai0aLsfS8Ae9PQKGUIhtACkpWm7");
  EXPECT_EQ(disk.peCount, 3u);
  EXPECT_EQ(disk.devSize, 32768u);
  ASSERT_EQ(disk.volumes.size(), 2u);
  EXPECT_EQ(disk.volumes[0].name, "lv_test1");
  EXPECT_EQ(disk.volumes[0].start, 2048u);
  EXPECT_EQ(disk.volumes[0].sectorCount, 2u * 8192);
  EXPECT_EQ(disk.volumes[1].name, "lv_test2");
  EXPECT_EQ(disk.volumes[1].start, 2048u + 2 * 8192);
}

std::string Ldm(const std::string& name) {
  return test::UnpackCorpus("images/libldm/ldm-data.tar.xz", "ldm-2003r2-" + name + ".img");
}

TEST(DynamicDisks, WindowsVolumesListWithLdmtoolSizesAndSaveTheirFile) {
  BREVID_REQUIRE_CORPUS();
  const char* disks[] = {"mirrored-1", "mirrored-2", "raid5-1",   "raid5-2",   "raid5-3",
                         "simple-1",   "spanned-1",  "spanned-2", "striped-1", "striped-2"};
  DiskList list;
  std::vector<std::string> paths;
  for (const char* d : disks) {
    paths.push_back(Ldm(d));
    ASSERT_FALSE(paths.back().empty()) << d;
    ASSERT_TRUE(AddImageFile(list, paths.back())) << d;
  }
  DiskInfo* group = FindDisk(list, "Red-nzv8x6obywgDg0");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->diskKind, 2u);
  struct Expected {
    const char* name;
    uint64_t size;
    VolumeLayout layout;
    size_t members;
  };
  // ldmtool show volume: sizes in sectors, chunk size 128 where striped.
  const Expected expected[] = {{"Volume1-01", 96256, VolumeLayout::Spanned, 1},
                               {"Volume2-01", 192512, VolumeLayout::Spanned, 2},
                               {"Stripe1-01", 122880, VolumeLayout::Striped, 2},
                               {"Volume3-01", 96256, VolumeLayout::Spanned, 1},
                               {"Volume3-02", 96256, VolumeLayout::Spanned, 1},
                               {"Raid1-01", 192512, VolumeLayout::Raid5, 3}};
  std::string out = test::ScratchDir("ldm_save");
  for (const Expected& e : expected) {
    const VolumeInfo* v = Named(*group, e.name);
    ASSERT_NE(v, nullptr) << e.name;
    EXPECT_EQ(v->sectorCount, e.size) << e.name;
    EXPECT_EQ(v->layout, e.layout) << e.name;
    EXPECT_EQ(v->fsType, kFsNtfs) << e.name;
    ASSERT_EQ(v->members.size(), e.members) << e.name;
    for (const auto& [key, m] : v->members) {
      EXPECT_FALSE(m.devicePath.empty()) << e.name;
    }
    if (e.layout != VolumeLayout::Spanned) {
      EXPECT_EQ(v->stripeSectors, 128u) << e.name;
    }
    std::string with;
    for (size_t i = 1; i < paths.size(); ++i) with += " --with " + Q(paths[i]);
    std::string dir = out + "/" + e.name;
    test::CommandResult r =
        test::RunCommand(Brevid("save " + Q(paths[0]) + " " + e.name + with + " --to " + Q(dir)));
    ASSERT_EQ(r.status, 0) << e.name << r.err;
    EXPECT_EQ(test::ReadFile(dir + "/根目录/test.txt").substr(0, 15), "Filesystem test") << e.name;
  }

  // RAID-5 with its third member left out: that member is rebuilt from parity.
  std::string dir = out + "/degraded";
  test::CommandResult r = test::RunCommand(Brevid(
      "save " + Q(Ldm("raid5-1")) + " Raid1-01 --with " + Q(Ldm("raid5-2")) + " --to " + Q(dir)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir + "/根目录/test.txt"),
            test::ReadFile(out + "/Raid1-01/根目录/test.txt"));

  // A stripe with its second member left out reads as zeros there: the file
  // is written but named as not whole, and the save fails.
  r = test::RunCommand(
      Brevid("save " + Q(paths[8]) + " Stripe1-01 --json --to " + Q(out + "/half-stripe")));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("half-stripe/根目录/test.txt\""), std::string::npos) << r.out;

  // Imaged through their members (the degraded RAID-5 too), the volumes are
  // whole NTFS file systems to ntfs-3g; a member as target is refused.
  const std::string memberSum = test::Sha256OfFile(paths[9]);
  const std::string images[][3] = {{"Stripe1-01", paths[8], paths[9]},
                                   {"Raid1-01", Ldm("raid5-1"), Ldm("raid5-2")}};
  for (const auto& [v, first, second] : images) {
    std::string img = out + "/" + v + ".img";
    r = test::RunCommand(Brevid("image " + Q(first + "," + v) + " --with " + Q(second) +
                                " --to-file " + Q(img) + " --json"));
    ASSERT_EQ(r.status, 0) << v << r.err;
    EXPECT_NE(r.out.find("\"badSectors\": []"), std::string::npos) << r.out;
    r = test::RunCommand("ntfscat -f " + Q(img) + " test.txt");
    EXPECT_EQ(r.out.substr(0, 15), "Filesystem test") << v << r.err;
  }
  r = test::RunCommand(Brevid("image " + Q(paths[8] + ",Stripe1-01") + " --with " + Q(paths[9]) +
                              " --to-file " + Q(paths[9])));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(test::Sha256OfFile(paths[9]), memberSum);
}

TEST(DynamicDisks, GroupsMixingMbrAndGptDisksReadEveryVolume) {
  BREVID_REQUIRE_CORPUS();
  // Windows 2008 R2: the first disk of each set has an MBR, the others a GPT
  // with the private header ending the metadata partition and the data area
  // at another start.
  const char* disks[] = {"mirrored-1", "mirrored-2", "raid5-1",   "raid5-2",  "raid5-3",
                         "spanned-1",  "spanned-2",  "striped-1", "striped-2"};
  std::string first, with, all;
  for (const char* d : disks) {
    std::string path = test::UnpackCorpus("images/libldm/ldm-data.tar.xz",
                                          std::string("ldm-2008r2-") + d + ".img");
    ASSERT_FALSE(path.empty()) << d;
    all += " " + Q(path);
    if (first.empty())
      first = path;
    else
      with += " --with " + Q(path);
  }
  // Item texts and ldmtool's sizes in sectors.
  const std::pair<const char*, uint64_t> volumes[] = {{"E:", 129024}, {"F:", 65536},
                                                      {"G:", 32768},  {"Volume3-02", 32768},
                                                      {"H:", 65536},  {"I:", 190464}};
  const std::string out = test::ScratchDir("ldm2008_save");
  test::CommandResult listed = test::RunCommand(Brevid("list --json" + all));
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::string& list = listed.out;
  for (const auto& [item, size] : volumes) {
    size_t at = list.find("\"item\": \"" + std::string(item) + "\"");
    ASSERT_NE(at, std::string::npos) << item;
    EXPECT_EQ(list.find("\"sectorCount\": " + std::to_string(size), at),
              list.find("\"sectorCount\"", at))
        << item;
    std::string dir = out + "/" + item;
    test::CommandResult r =
        test::RunCommand(Brevid("save " + Q(first) + " " + item + with + " --to " + Q(dir)));
    ASSERT_EQ(r.status, 0) << item << r.err;
    EXPECT_EQ(test::ReadFile(dir + "/根目录/test.txt").substr(0, 15), "Filesystem test") << item;
  }
}

TEST(DynamicDisks, PrivateHeaderOfVersionTwoTenIsRefused) {
  BREVID_REQUIRE_CORPUS();
  std::string image = Ldm("simple-1");
  ASSERT_FALSE(image.empty());
  std::string sector = test::ReadAt(image, 3072, 512);
  std::vector<uint8_t> bytes(sector.begin(), sector.end());
  LdmPrivateHeader h;
  ASSERT_TRUE(ParseLdmPrivateHeader(bytes, &h));
  bytes[ldm::kPrivVersionMinor + 1] = 10;
  EXPECT_FALSE(ParseLdmPrivateHeader(bytes, &h));
}

TEST(DynamicDisks, NewerDiskRecordsGiveNumberAndGuid) {
  // No corpus disk holds one: VBLK header, object id, name, 16 GUID bytes.
  std::vector<uint8_t> r(128, 0);
  const uint8_t head[] = {'V', 'B', 'L', 'K'};
  std::copy(head, head + 4, r.begin());
  r[ldm::kRecType] = ldm::kTypeDisk2;
  r[ldm::kRecDataLength + 3] = 3 + 6 + 16;
  const uint8_t body[] = {2, 0x04, 0x07, 5, 'D', 'i', 's', 'k', '3'};
  std::copy(body, body + sizeof body, r.begin() + ldm::kRecObjectId);
  for (uint8_t i = 0; i < 16; ++i) r[ldm::kRecObjectId + sizeof body + i] = i;
  LdmDatabase db;
  ParseLdmRecord(r, &db);
  ASSERT_EQ(db.disks.size(), 1u);
  EXPECT_EQ(db.disks[0].id, 0x0407u);
  EXPECT_EQ(db.disks[0].number, 3u);
  EXPECT_EQ(db.disks[0].guid[15], 15);
  r[ldm::kRecDataLength + 3] = 129;  // longer than a record may say
  ParseLdmRecord(r, &db);
  EXPECT_EQ(db.skipped, 1u);
}

TEST(AppleMaps, CorpusMapsListTheirHfsEntries) {
  BREVID_REQUIRE_CORPUS();
  // Disk Utility leaves the HFS entries' names empty; they are still volumes.
  DiskInfo du = test::WalkImage(test::CorpusDir() + "/images/apm/mac-os-disk-utility.bin");
  EXPECT_EQ(du.mapEntryCount, 6u);
  ASSERT_EQ(du.volumes.size(), 2u);
  EXPECT_EQ(du.volumes[0].name, "Partition0");
  EXPECT_EQ(du.volumes[0].start, 262208u);
  EXPECT_EQ(du.volumes[0].hfsText, "Apple_HFS");
  EXPECT_EQ(du.volumes[1].name, "Partition1");
  EXPECT_EQ(du.volumes[1].hfsText, "Apple_HFSX");
  EXPECT_EQ(du.volumes[1].sectorCount, 32745368u);
  // 2048-byte blocks: the volume is kept in 512-byte sectors.
  DiskInfo dvd = test::WalkImage(test::CorpusDir() + "/images/apm/mac-osx-snow-leopard.bin");
  EXPECT_EQ(dvd.sectorSize, 2048u);
  ASSERT_EQ(dvd.volumes.size(), 1u);
  EXPECT_EQ(dvd.volumes[0].name, "Mac_OS_X");  // header beyond the sample: kind 0
  EXPECT_EQ(dvd.volumes[0].start, 505122u * 4);
  EXPECT_EQ(dvd.volumes[0].sectorCount, 3289486u * 4);
}

}  // namespace
}  // namespace brevid
