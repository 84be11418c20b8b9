// The disk-pane commands around the scan-result file: texts and contract.
#include "tasks/scan_results.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "support/test_paths.h"

namespace brevid {
namespace {

struct LastMessage final : ProgressTarget {
  void Send(uint32_t message, uint64_t, uint64_t) override { last = message; }
  void Post(uint32_t message, uint64_t, uint64_t) override { last = message; }
  uint32_t last = 0;
};

TEST(ScanResultsTask, StatusTextsAndTheContract) {
  DiskList disks(1);
  disks[0].vendor = "d";
  PaneStatus refusal;
  EXPECT_EQ(PrepareScanResultsRead(disks, "x", &refusal), nullptr);
  EXPECT_EQ(refusal.text, Ansi("打开扫描信息结束"));
  LastMessage window;
  ProgressRecord progress{.window = &window};
  BusyFlag busy{0};
  const std::string dir = test::ScratchDir("scan_results_task");
  EXPECT_TRUE(RunWriteScanResults(disks[0], dir + "/none/a", progress, busy).red);
  EXPECT_EQ(RunWriteScanResults(disks[0], dir + "/a", progress, busy).text,
            Ansi("保存扫描信息结束"));
  DiskInfo other;
  EXPECT_EQ(RunReadScanResults(other, dir + "/a", progress, busy).status.text,
            Ansi("警告: 不是该磁盘的信息"));
  EXPECT_TRUE(LoadResultsInto(disks, dir + "/none").status.red);
  EXPECT_EQ(window.last, kProgressClose);
  EXPECT_EQ(busy.load(), 0);
}

}  // namespace
}  // namespace brevid
