#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/progress.h"

namespace brevid {
namespace {

TEST(MessageBox, GoesToTheInstalledHandler) {
  std::vector<std::string> seen;
  MessageBoxHandler old = SetMessageBoxHandler(
      [&](const std::string& text, const std::string& caption, unsigned style) {
        seen.push_back(caption + ":" + text + ":" + std::to_string(style));
        return kIdNo;
      });
  std::thread worker([] { EXPECT_EQ(ShowMessageBox("mft", "warn", kMbYesNo), kIdNo); });
  worker.join();
  EXPECT_EQ(ShowMessageBox("text", "Error", kMbIconInformation), kIdNo);
  SetMessageBoxHandler(old);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "warn:mft:4");
  EXPECT_EQ(seen[1], "Error:text:64");
}

class Recorder : public ProgressTarget {
 public:
  void Send(uint32_t m, uint64_t w, uint64_t) override { sent.push_back({m, w}); }
  void Post(uint32_t m, uint64_t w, uint64_t) override { posted.push_back({m, w}); }
  std::vector<std::pair<uint32_t, uint64_t>> sent, posted;
};

TEST(ProgressRecord, RoutesToItsWindowAndCarriesTheStopFlag) {
  Recorder window;
  ProgressRecord record;
  record.Send(kProgressSetRange, 10, 1);  // no window yet: dropped
  record.window = &window;
  record.Send(kProgressSetRange, 10, 1);
  record.Post(kProgressStep);
  EXPECT_FALSE(record.StopRequested());
  record.stop = 1;
  EXPECT_TRUE(record.StopRequested());
  ASSERT_EQ(window.sent.size(), 1u);
  EXPECT_EQ(window.sent[0].first, 0x8007u);
  ASSERT_EQ(window.posted.size(), 1u);
  EXPECT_EQ(window.posted[0].first, 0x8008u);
}

}  // namespace
}  // namespace brevid
