// The panes' model on expanded fixture volumes: tick spreading and the
// ticked-items jobs on fat32_files.img, parent links and path round trips on
// ntfs_files.img.
#include <gtest/gtest.h>

#include <set>

#include "fs/fat_volume.h"
#include "fs/ntfs_volume.h"
#include "fs/volume_trees.h"
#include "platform/codepage.h"
#include "support/image_under_test.h"
#include "support/test_paths.h"
#include "view/file_rows.h"
#include "view/ticks.h"
#include "view/tree_paths.h"

namespace brevid {
namespace {

NodeHandle At(const NodeTable& table, const std::string& utf8Path) {
  NodeHandle node = NodeAtPath(table, utf8Path);
  EXPECT_FALSE(node.IsNull()) << utf8Path;
  return node;
}

// Every node below `node`, itself included.
std::vector<NodeHandle> Subtree(NodeHandle node) {
  std::vector<NodeHandle> all{node};
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t c = 0; c < all[i].ChildCount(); ++c) all.push_back(all[i].Child(c));
  return all;
}

std::set<std::string> Names(const std::vector<SaveItem>& items) {
  std::set<std::string> names;
  for (const SaveItem& item : items) names.insert(item.name);
  return names;
}

TEST(ViewTicks, SpreadDownAndMarkAncestorsPartlyAndListTheJobs) {
  std::string image = test::FixturePath("fat32_files.img");
  test::UnchangedImage unchanged(image);
  DiskInfo disk = test::WalkImage(image);
  ASSERT_EQ(disk.volumes.size(), 1u);
  VolumeInfo& volume = disk.volumes[0];
  ProgressRecord progress;
  ExpandFatVolume(disk, volume, progress);
  NodeTable table(volume);
  VolumeTrees& trees = TreesOf(volume);

  NodeHandle level2 = At(table, "根目录/Docs/Level2");
  NodeHandle docs = level2.Parent();
  NodeHandle oldTxt = At(table, "根目录/Docs/Level2/_LD.TXT");
  SetTick(level2, kTicked);
  for (NodeHandle n : Subtree(level2)) EXPECT_EQ(n.Tick(), kTicked) << PathOf(n);
  EXPECT_EQ(oldTxt.Kind(), kDeletedFile);
  EXPECT_EQ(docs.Tick(), kTickPartly);
  EXPECT_EQ(table.Root().Tick(), kTickPartly);
  EXPECT_EQ(At(table, "根目录/Docs/INDEX.TXT").Tick(), kTickClear);
  EXPECT_EQ(table.Scattered().Tick(), kTickClear);

  // A ticked file in a partly ticked folder is a job; a partly ticked folder
  // below keeps its children's own ticks.
  SetTick(At(table, "根目录/Many/long entry name number 03.txt"), kTicked);
  SetTick(At(table, "根目录/Trash"), kTickPartly);
  EXPECT_EQ(At(table, "根目录/Trash/trash long file.txt").Tick(), kTickClear);
  std::vector<SaveItem> jobs = TickedItems(table, disk, volume);
  EXPECT_EQ(Names(jobs), (std::set<std::string>{"Level2", "long entry name number 03.txt"}));
  for (const SaveItem& job : jobs)  // the save run finds each job again
    EXPECT_NE(FindFatEntry(trees, job.number, job.name, job.timeText), nullptr) << job.name;

  // Clearing reaches down, and ancestors with nothing ticked below clear again.
  SetTick(level2, kTickClear);
  EXPECT_EQ(oldTxt.Tick(), kTickClear);
  EXPECT_EQ(docs.Tick(), kTickClear);
  EXPECT_EQ(table.Root().Tick(), kTickPartly);
  SetTick(At(table, "根目录/Many"), kTickClear);
  SetTick(At(table, "根目录/Trash"), kTickClear);
  EXPECT_EQ(table.Root().Tick(), kTickClear);
  EXPECT_TRUE(TickedItems(table, disk, volume).empty());

  // Carved files: one inside the volume, one just past its end.
  uint64_t inside = volume.start + 100, past = volume.start + volume.sectorCount;
  disk.extraFound.children[inside].size = 512;
  disk.extraFound.children[past].size = 512;
  ASSERT_TRUE(HasExtraFoundItem(disk, volume));
  EXPECT_EQ(FolderItems(table, disk, volume).back().name, "Extra Found Files");
  SetCarvedTick(disk, volume, inside, kTicked);
  EXPECT_EQ(disk.extraFound.tickState, kTickPartly);
  SetExtraFoundTick(disk, volume, kTicked);
  EXPECT_EQ(disk.extraFound.children[past].tickState, kTickClear);
  jobs = TickedItems(table, disk, volume);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].number, 0u);
  EXPECT_EQ(jobs[0].timeText, "Extra Found Files");

  // A carved file the tree shows as its own is listed there only, and kept.
  volume.trees->carvedInTree.insert(inside);
  EXPECT_FALSE(HasExtraFoundItem(disk, volume));
  EXPECT_EQ(disk.extraFound.children.count(inside), 1u);
}

TEST(ViewNodeTable, NtfsParentsRowsAndPathsRoundTrip) {
  std::string image = test::FixturePath("ntfs_files.img");
  test::UnchangedImage unchanged(image);
  DiskInfo disk = test::WalkImage(image);
  ASSERT_EQ(disk.volumes.size(), 1u);
  VolumeInfo& volume = disk.volumes[0];
  ProgressRecord progress;
  ASSERT_EQ(ScanMft(disk, volume, progress), 1);
  NodeTable table(volume);
  VolumeTrees& trees = TreesOf(volume);

  size_t nodes = 0;
  for (size_t t = 0; t < table.TopCount(); ++t) {
    EXPECT_TRUE(table.Top(t).Parent().IsNull());
    for (NodeHandle n : Subtree(table.Top(t))) {
      ++nodes;
      size_t row = 0;
      for (NtfsEntry& child : n.Ntfs()->children) {  // the table lists the tree's own order
        NodeHandle c = n.Child(row);
        ASSERT_EQ(c.Ntfs(), &child) << PathOf(n);
        EXPECT_EQ(c.Parent(), n);
        EXPECT_EQ(c.Row(), row++);
      }
      EXPECT_EQ(n.ChildCount(), row);
      if (t == 2) continue;  // the pane shows no path into "扩展目录"
      std::string path = PathOf(n);
      std::optional<SaveItem> item = ItemForPath(table, path);
      ASSERT_TRUE(item) << path;
      NtfsEntry* found = FindNtfsEntry(trees, item->number, item->name, item->timeText);
      ASSERT_NE(found, nullptr) << path;
      EXPECT_EQ(PathOf(NodeHandle(found, &table)), path);
    }
  }
  EXPECT_GT(nodes, 300u);  // "Many" alone holds 320
  // The listing `brevid tree` prints walks the same nodes under the same paths.
  std::vector<ListingRow> listing = TreeListing(table);
  EXPECT_EQ(listing.size(), Subtree(table.Root()).size() + Subtree(table.Scattered()).size());
  EXPECT_EQ(listing.back().path, PathOf(At(table, listing.back().path)));
}

}  // namespace
}  // namespace brevid
