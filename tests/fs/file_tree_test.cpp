// The recovered file tree's own rules: the shared kind/tick byte, where a
// child is inserted and which index takes it, look-ups, and time texts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fs/volume_trees.h"
#include "platform/codepage.h"

namespace brevid {
namespace {

// ---- kind and tick ----------------------------------------------------------

TEST(FileTreeKindAndTick, FileEntryKeepsEachInItsOwnBits) {
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    for (uint8_t tick = 0; tick <= 2; ++tick) {
      FileEntry e;
      e.SetKind(kind);
      e.SetTick(tick);
      EXPECT_EQ(e.kindTick, (tick << 4) | kind);
      for (uint8_t other = 0; other <= 2; ++other) {
        e.SetTick(other);
        EXPECT_EQ(e.Kind(), kind);
      }
      e.SetTick(tick);
      for (uint8_t other = 0; other <= 4; ++other) {
        e.SetKind(other);
        EXPECT_EQ(e.Tick(), tick);
      }
      e.SetKind(kind);
      FileEntry copy = e;
      EXPECT_EQ(copy.Kind(), kind);
      EXPECT_EQ(copy.Tick(), tick);
    }
  }
}

// Names held in the node up to 15 bytes and beyond them on the heap: each
// length either side of the edge survives copies, moves and self-assignment.
TEST(FileTreeNodeName, KeepsEveryLengthAcrossCopiesAndMoves) {
  for (size_t length : {0, 1, 14, 15, 16, 255}) {
    const std::string text(length, 'a');
    NodeName name(text + "tail");
    name = text;
    NodeName copy(name), moved(std::move(copy));
    copy = name.view();  // reused after the move
    name = name;
    name = std::string_view(name).substr(0);  // from its own bytes
    for (const NodeName* n : {&name, &copy, &moved}) {
      EXPECT_EQ(n->view(), text) << length;
      EXPECT_EQ(std::strlen(n->c_str()), length);
    }
  }
}

TEST(FileTreeKindAndTick, FileEntryTickIsTwoBitsTheTopTwoCarryNothing) {
  FileEntry e;
  e.kindTick = 0xC0 | (kTickPartly << 4) | kNormalFolder;
  EXPECT_EQ(e.Tick(), kTickPartly);
  EXPECT_EQ(e.Kind(), kNormalFolder);
  e.SetTick(kTicked);
  EXPECT_EQ(e.Tick(), kTicked);
  EXPECT_EQ(e.Kind(), kNormalFolder);
}

TEST(FileTreeKindAndTick, NtfsEntryTickIsTheWholeHighNibble) {
  for (uint8_t kind = 0; kind <= 4; ++kind) {
    for (uint8_t tick = 0; tick <= 2; ++tick) {
      NtfsEntry e;
      e.SetKind(kind);
      e.SetTick(tick);
      EXPECT_EQ(e.kindTick, (tick << 4) | kind);
      e.SetKind(kind == 4 ? 1 : kind + 1);
      EXPECT_EQ(e.Tick(), tick);
      e.SetKind(kind);
      e.SetTick(tick == 2 ? 0 : tick + 1);
      EXPECT_EQ(e.Kind(), kind);
    }
  }
  NtfsEntry e;
  e.kindTick = 0x52;
  EXPECT_EQ(e.Tick(), 5);
  EXPECT_EQ(e.Kind(), kDeletedFile);
}

TEST(FileTreeKindAndTick, FoldersAreOneAndThreeFilesTwoAndFourZeroIsNeither) {
  FileEntry e;
  EXPECT_FALSE(e.IsFolder());
  EXPECT_FALSE(e.IsFile());
  EXPECT_TRUE(KindStatusText(kKindNone).empty());
  const char* words[] = {"", "已删除文件夹", "已删除文件", "正常文件夹", "正常文件"};
  for (uint8_t kind = 1; kind <= 4; ++kind) {
    e.SetKind(kind);
    EXPECT_EQ(e.IsFolder(), kind == 1 || kind == 3);
    EXPECT_EQ(e.IsFile(), kind == 2 || kind == 4);
    EXPECT_EQ(KindStatusText(kind), Ansi(words[kind]));
  }
  EXPECT_TRUE(KindStatusText(9).empty());
}

// ---- FAT insertion and look-up -----------------------------------------------

FileEntry Node(uint8_t kind, const std::string& name, uint32_t cluster, uint16_t date = 0x5021,
               uint16_t time = 0x6000) {
  FileEntry e;
  e.SetKind(kind);
  e.name = name;
  e.firstCluster = cluster;
  e.createDate = date;
  e.createTime = time;
  return e;
}

std::vector<std::string> Names(const FileEntry& folder) {
  std::vector<std::string> names;
  for (const FileEntry& c : folder.children) names.push_back(c.name);
  return names;
}

size_t CountIn(const FatIndex& index, uint32_t key, const FileEntry* e) {
  auto [lo, hi] = index.equal_range(key);
  return static_cast<size_t>(std::count_if(lo, hi, [&](const auto& kv) { return kv.second == e; }));
}

TEST(FileTreeFatInsert, FoldersAtTheFrontFilesAtTheEndNumberedAppended) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartFatTree(trees, 2);
  FileEntry& root = trees.fatRoot;
  InsertFatChild(trees, root, Node(kNormalFile, "a.txt", 10));
  InsertFatChild(trees, root, Node(kNormalFolder, "X", 11));
  InsertFatChild(trees, root, Node(kDeletedFile, "_B.TXT", 12));
  InsertFatChild(trees, root, Node(kDeletedFolder, "Y", 13));
  InsertFatChild(trees, root, Node(kNormalFolder, "30", 30), FatPlacement::kAppendNormal);
  InsertFatChild(trees, root, Node(kNormalFile, "c.txt", 14));
  InsertFatChild(trees, trees.fatScattered, Node(kNormalFolder, "31", 31),
                 FatPlacement::kAppendDeleted);
  EXPECT_EQ(Names(root), (std::vector<std::string>{"Y", "X", "a.txt", "_B.TXT", "30", "c.txt"}));
  EXPECT_EQ(Names(trees.fatScattered), std::vector<std::string>{"31"});
}

TEST(FileTreeFatInsert, IndexesTheElementInTheListByKindOrPlacement) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartFatTree(trees, 0);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 0, &trees.fatRoot), 1u);
  EXPECT_EQ(CountIn(trees.fatDeletedIndex, 0, &trees.fatScattered), 1u);

  FileEntry* file = InsertFatChild(trees, trees.fatRoot, Node(kNormalFile, "F", 5));
  FileEntry* gone = InsertFatChild(trees, trees.fatRoot, Node(kDeletedFile, "G", 5));
  FileEntry* folder = InsertFatChild(trees, trees.fatRoot, Node(kNormalFolder, "D", 6));
  FileEntry* goneFolder = InsertFatChild(trees, trees.fatRoot, Node(kDeletedFolder, "E", 7));
  FileEntry* numbered = InsertFatChild(trees, trees.fatRoot, Node(kNormalFolder, "8", 8),
                                       FatPlacement::kAppendNormal);
  FileEntry* scattered = InsertFatChild(trees, trees.fatScattered, Node(kNormalFolder, "9", 9),
                                        FatPlacement::kAppendDeleted);

  for (FileEntry* e : {file, gone, folder, goneFolder, numbered}) {
    EXPECT_EQ(e->parent, &trees.fatRoot);
    bool inList = false;
    for (FileEntry& c : trees.fatRoot.children) inList |= &c == e;
    EXPECT_TRUE(inList) << e->name;
  }
  EXPECT_EQ(scattered->parent, &trees.fatScattered);
  EXPECT_EQ(&trees.fatScattered.children.back(), scattered);

  IndexFatNodes(trees);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 5, file), 1u);
  EXPECT_EQ(CountIn(trees.fatDeletedIndex, 5, gone), 1u);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 6, folder), 1u);
  EXPECT_EQ(CountIn(trees.fatDeletedIndex, 7, goneFolder), 1u);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 8, numbered), 1u);
  // Kind 3, but a folder under the scattered folder is looked up as deleted.
  EXPECT_EQ(CountIn(trees.fatDeletedIndex, 9, scattered), 1u);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 9, scattered), 0u);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 5, gone), 0u);
  EXPECT_EQ(NameIndexOf(trees).size(), 6u);
  auto [lo, hi] = NameIndexOf(trees).equal_range("G");
  ASSERT_NE(lo, hi);
  EXPECT_EQ(std::get<FileEntry*>(lo->second), gone);
}

// A node is moved into the list with its children: they must then name the
// node in the list as their parent, not the copy left behind.
TEST(FileTreeFatInsert, ChildrenOfAMovedNodePointAtItsNewPlace) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  FileEntry folder = Node(kNormalFolder, "D", 3);
  FileEntry inner = Node(kNormalFile, "inner", 4);
  folder.children.PushBack(&inner);
  inner.parent = &folder;
  FileEntry* placed = InsertFatChild(trees, trees.fatRoot, std::move(folder));
  ASSERT_EQ(placed->children.size(), 1u);
  EXPECT_EQ(placed->children.front().parent, placed);
}

// Look-ups between insertions: equal keys keep their order of entry, as in a multimap.
TEST(FileTreeFatLookup, IndexAnswersBetweenInsertionsInOrderOfEntry) {
  FatIndex index;
  std::vector<FileEntry> nodes(6);
  for (uint32_t k : {7u, 3u, 7u}) index.emplace(k, &nodes[index.size()]);
  EXPECT_EQ(index.count(7), 2u);
  for (uint32_t k : {7u, 1u, 7u}) index.emplace(k, &nodes[index.size()]);
  auto [lo, hi] = index.equal_range(7);
  std::vector<FileEntry*> found;
  for (auto it = lo; it != hi; ++it) found.push_back(it->second);
  EXPECT_EQ(found, (std::vector<FileEntry*>{&nodes[0], &nodes[2], &nodes[3], &nodes[5]}));
  EXPECT_EQ(index.count(2), 0u);
}

TEST(FileTreeFatLookup, SameFirstClusterToldApartByNameAndCreationTime) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartFatTree(trees, 2);
  // A deleted file whose clusters a normal file now uses.
  FileEntry* now =
      InsertFatChild(trees, trees.fatRoot, Node(kNormalFile, "report.txt", 40, 0x5021, 0x6000));
  FileEntry* before =
      InsertFatChild(trees, trees.fatRoot, Node(kDeletedFile, "report.txt", 40, 0x4EA5, 0x43C5));
  EXPECT_EQ(FindFatEntry(trees, 40, "report.txt", "2020-01-01 12:00:00"), now);
  EXPECT_EQ(FindFatEntry(trees, 40, "report.txt", "2019-05-05 08:30:10"), before);
  EXPECT_EQ(FindFatEntry(trees, 40, "report.txt", "2019-05-05 08:30:12"), nullptr);
  EXPECT_EQ(FindFatEntry(trees, 41, "report.txt", "2020-01-01 12:00:00"), nullptr);
  EXPECT_EQ(FindFatEntry(trees, 40, "REPORT.TXT", "2020-01-01 12:00:00"), nullptr);
  EXPECT_EQ(FindFatEntry(trees, 2, trees.fatRoot.name, "1980-00-00 00:00:00"), &trees.fatRoot);
}

TEST(FileTreeFatLookup, NormalIndexIsSearchedFirst) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  FileEntry* gone = InsertFatChild(trees, trees.fatRoot, Node(kDeletedFile, "same", 9));
  FileEntry* kept = InsertFatChild(trees, trees.fatRoot, Node(kNormalFile, "same", 9));
  EXPECT_EQ(FindFatEntry(trees, 9, "same", "2020-01-01 12:00:00"), kept);
  EXPECT_NE(gone, kept);
}

// The indexes take placed nodes at a look-up: one placed after an earlier
// look-up is found too, and where it goes follows its placing alone.
TEST(FileTreeFatLookup, NodesPlacedAfterALookUpAreFound) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartFatTree(trees, 2);
  EXPECT_EQ(FindFatEntry(trees, 9, "a", "2020-01-01 12:00:00"), nullptr);
  FileEntry marked = Node(kNormalFile, "a", 9);
  marked.kindTick |= kFatLookedUpAsDeleted;
  FileEntry* a = InsertFatChild(trees, trees.fatRoot, std::move(marked));
  EXPECT_EQ(FindFatEntry(trees, 9, "a", "2020-01-01 12:00:00"), a);
  FileEntry* b = InsertFatChild(trees, trees.fatScattered, Node(kNormalFolder, "9", 9),
                                FatPlacement::kAppendDeleted);
  EXPECT_EQ(FindFatEntry(trees, 9, "9", "2020-01-01 12:00:00"), b);
  EXPECT_EQ(a->Tick(), kTickClear);
  EXPECT_EQ(CountIn(trees.fatNormalIndex, 9, a), 1u);
  EXPECT_EQ(CountIn(trees.fatDeletedIndex, 9, b), 1u);
}

// ---- NTFS insertion and look-up ----------------------------------------------

NtfsEntry Record(uint8_t kind, const std::string& name, uint64_t number, uint64_t created) {
  NtfsEntry e;
  e.SetKind(kind);
  e.name = name;
  e.recordNumber = number;
  e.createTime = created;
  return e;
}

constexpr uint64_t kNewYear2020Utc8 = 132222816000000000;  // 2020-01-01 00:00:00 UTC+8
constexpr uint64_t kOneDay = 864000000000;

TEST(FileTreeNtfsInsert, SecondNodeWithATakenNumberGoesToTheSpareIndex) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  NtfsEntry* first =
      InsertNtfsChild(trees, trees.ntfsRoot, Record(kNormalFile, "a.txt", 40, kNewYear2020Utc8));
  NtfsEntry* second = InsertNtfsChild(
      trees, trees.ntfsRoot, Record(kDeletedFile, "b.txt", 40, kNewYear2020Utc8 + kOneDay));
  EXPECT_EQ(trees.ntfsIndex.Find(40), first);
  auto [lo, hi] = trees.ntfsSpareIndex.equal_range(40);
  ASSERT_EQ(std::distance(lo, hi), 1);
  EXPECT_EQ(lo->second, second);

  EXPECT_EQ(FindNtfsEntry(trees, 40, "a.txt", "2020-01-01 00:00:00"), first);
  EXPECT_EQ(FindNtfsEntry(trees, 40, "b.txt", "2020-01-02 00:00:00"), second);
  EXPECT_EQ(FindNtfsEntry(trees, 40, "a.txt", "2020-01-02 00:00:00"), nullptr);
  EXPECT_EQ(FindNtfsEntry(trees, 41, "a.txt", "2020-01-01 00:00:00"), nullptr);
  EXPECT_EQ(NameIndexOf(trees).size(), 2u);
}

// A damaged record may carry any number: the far ones are indexed beside the
// array, which stays the size of what was entered (under the sanitizers, an
// array up to the number would not be had). Files and folders keep their order.
TEST(FileTreeNtfsInsert, FarRecordNumbersAreIndexedWithoutAnArrayOfTheirSize) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  NtfsEntry* far =
      InsertNtfsChild(trees, trees.ntfsRoot, Record(kNormalFile, "far", 0xFFFFFFF0, 0));
  NtfsEntry* folder =
      InsertNtfsChild(trees, trees.ntfsRoot, Record(kNormalFolder, "folder", 40, 0));
  NtfsEntry* twin =
      InsertNtfsChild(trees, trees.ntfsRoot, Record(kDeletedFile, "twin", 0xFFFFFFF0, 0));
  EXPECT_EQ(trees.ntfsIndex.Find(0xFFFFFFF0), far);
  EXPECT_EQ(trees.ntfsIndex.Find(40), folder);
  EXPECT_EQ(trees.ntfsIndex.Find(41), nullptr);
  EXPECT_EQ(trees.ntfsSpareIndex.find(0xFFFFFFF0)->second, twin);
  std::vector<NtfsEntry*> order;
  for (NtfsEntry& e : trees.ntfsRoot.children) order.push_back(&e);
  EXPECT_EQ(order, (std::vector<NtfsEntry*>{folder, far, twin}));
  EXPECT_EQ(twin->parent, &trees.ntfsRoot);
}

TEST(FileTreeNtfsInsert, PseudoFoldersHoldTheirNumbers) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  StartNtfsTree(trees);
  EXPECT_EQ(trees.ntfsIndex.Find(5), &trees.ntfsRoot);
  EXPECT_EQ(trees.ntfsIndex.Find(2), &trees.ntfsScattered);
  EXPECT_EQ(trees.ntfsIndex.Find(1), &trees.ntfsExtended);
  EXPECT_EQ(trees.ntfsRoot.name, Ansi("根目录"));
  EXPECT_EQ(trees.ntfsScattered.name, Ansi("零散目录"));
  EXPECT_EQ(trees.ntfsExtended.name, Ansi("扩展目录"));
  for (const NtfsEntry* e : {&trees.ntfsRoot, &trees.ntfsScattered, &trees.ntfsExtended}) {
    EXPECT_EQ(e->Kind(), kNormalFolder);
    EXPECT_EQ(e->parentNumber, e->recordNumber);
  }
  // A record that claims the root's number is a second node, not the root.
  NtfsEntry* fake = InsertNtfsChild(trees, trees.ntfsRoot, Record(kNormalFolder, "x", 5, 0));
  EXPECT_EQ(trees.ntfsIndex.Find(5), &trees.ntfsRoot);
  EXPECT_EQ(trees.ntfsSpareIndex.find(5)->second, fake);
}

TEST(FileTreeNtfsInsert, OrderAndForcedPlacements) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  NtfsEntry& root = trees.ntfsRoot;
  InsertNtfsChild(trees, root, Record(kNormalFile, "f1", 30, 0));
  InsertNtfsChild(trees, root, Record(kNormalFolder, "d1", 31, 0));
  InsertNtfsChild(trees, root, Record(kDeletedFolder, "$$$Folder77", 77, 0), /*append=*/true);
  InsertNtfsChild(trees, root, Record(kDeletedFolder, "d2", 32, 0));
  NtfsEntry* spare =
      InsertNtfsChild(trees, root, Record(kNormalFile, "f2", 33, 0), false, /*spare=*/true);
  std::vector<std::string> names;
  for (const NtfsEntry& c : root.children) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"d2", "d1", "f1", "$$$Folder77", "f2"}));
  EXPECT_EQ(trees.ntfsIndex.count(33), 0u);
  EXPECT_EQ(trees.ntfsSpareIndex.find(33)->second, spare);
}

TEST(FileTreeNtfsLookup, MainIndexWinsWhenBothMatch) {
  VolumeInfo volume;
  VolumeTrees& trees = TreesOf(volume);
  NtfsEntry* first =
      InsertNtfsChild(trees, trees.ntfsRoot, Record(kNormalFile, "same", 60, kNewYear2020Utc8));
  InsertNtfsChild(trees, trees.ntfsRoot, Record(kDeletedFile, "same", 60, kNewYear2020Utc8));
  EXPECT_EQ(FindNtfsEntry(trees, 60, "same", "2020-01-01 00:00:00"), first);
}

// ---- the tree's life ---------------------------------------------------------

TEST(FileTreeLife, MadeOnFirstUseWithNamedRootsAndReleased) {
  VolumeInfo volume;
  EXPECT_FALSE(volume.trees);
  VolumeTrees& trees = TreesOf(volume);
  EXPECT_EQ(&TreesOf(volume), &trees);
  EXPECT_EQ(trees.fatRoot.name, Ansi("根目录"));
  EXPECT_EQ(trees.fatScattered.name, Ansi("零散目录"));
  EXPECT_EQ(trees.fatRoot.Kind(), kNormalFolder);
  EXPECT_EQ(trees.fatScattered.Kind(), kNormalFolder);
  EXPECT_EQ(trees.fatScattered.firstCluster, 0u);
  EXPECT_TRUE(trees.fatNormalIndex.empty());
  ReleaseTrees(volume);
  EXPECT_FALSE(volume.trees);
}

TEST(FileTreeLife, ACopiedVolumeStartsWithoutATree) {
  VolumeInfo volume;
  InsertFatChild(TreesOf(volume), TreesOf(volume).fatRoot, Node(kNormalFile, "f", 3));
  VolumeInfo copy = volume;
  EXPECT_FALSE(copy.trees);
  VolumeInfo moved = std::move(volume);
  ASSERT_TRUE(moved.trees);
  EXPECT_EQ(moved.trees->fatRoot.children.size(), 1u);
}

// ---- time texts --------------------------------------------------------------

TEST(FileTreeFatTimeText, FieldsAsStored) {
  EXPECT_EQ(FatTimeText(0x5021, 0x6000), "2020-01-01 12:00:00");
  EXPECT_EQ(FatTimeText(0x505D, 0xBF7D), "2020-02-29 23:59:58");  // seconds are stored halved
  EXPECT_EQ(FatTimeText(0, 0), "1980-00-00 00:00:00");
  // Out-of-range fields are shown as they are, not normalised.
  EXPECT_EQ(FatTimeText(0xFFFF, 0xFFFF), "2107-15-31 31:63:62");
}

struct NtfsTimeCase {
  uint64_t ticks;
  const char* text;
};

class FileTreeNtfsTime : public ::testing::TestWithParam<NtfsTimeCase> {};

TEST_P(FileTreeNtfsTime, ShownInUtcPlusEight) {
  EXPECT_EQ(NtfsTimeText(GetParam().ticks), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, FileTreeNtfsTime,
    ::testing::Values(NtfsTimeCase{0, "1601-01-01 08:00:00"},
                      // 17:30 UTC on 31 December is 01:30 on 1 January of the next year.
                      NtfsTimeCase{132222870001234567, "2020-01-01 01:30:00"},
                      NtfsTimeCase{132273792000000000, "2020-02-29 00:00:00"},
                      NtfsTimeCase{133536959990000000, "2024-02-29 23:59:59"},
                      NtfsTimeCase{125962272000000000,
                                   "2000-02-29 00:00:00"},  // divisible by 400: leap
                      NtfsTimeCase{94405536000000000, "1900-03-01 00:00:00"},  // by 100: not leap
                      NtfsTimeCase{157519872000000000, "2100-03-01 00:00:00"},
                      NtfsTimeCase{2650467455990000000, "9999-12-31 23:59:59"},
                      // A hostile value ends quickly and still counts right.
                      NtfsTimeCase{std::numeric_limits<uint64_t>::max(), "60056-05-28 13:36:10"}),
    [](const auto& info) {
      std::string name = info.param.text;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
}  // namespace brevid
