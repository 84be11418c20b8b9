// A ProgressTarget whose messages are handled on the thread of a Qt object:
// how a worker reaches a window. Send waits for its own message only and
// gives up once the target is abandoned; Post returns at once.
//
// Steps and positions are gathered rather than queued one by one: a walk
// that steps once an MFT record would queue a million events, and one that
// sends once a folder would wait on the window twenty thousand times. They
// reach the window at most every kGatherInterval, summed (a step message's
// wParam then counts the steps) or as the last position, and always ahead of
// any other message, so a bar ends where the worker left it.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/progress.h"

namespace brevid::ui {

class QueuedProgressTarget : public ProgressTarget {
 public:
  using Handler = std::function<void(uint32_t message, uint64_t wParam, uint64_t lParam)>;
  static constexpr std::chrono::milliseconds kGatherInterval{20};

  // `handle` runs on `context`'s thread; calls queued when `context` is
  // destroyed are dropped.
  QueuedProgressTarget(QObject* context, Handler handle);
  ~QueuedProgressTarget() override;

  void Send(uint32_t message, uint64_t wParam, uint64_t lParam) override;
  void Post(uint32_t message, uint64_t wParam, uint64_t lParam) override;
  // Makes every later Send return at once and wakes one that waits: for
  // shutting down while a worker may still be sending.
  void Abandon();

 private:
  struct State;
  // Adds a step or position to what is gathered; true when it is time to
  // hand the gathered messages over.
  bool Gather(uint32_t message, uint64_t wParam);
  QObject* context_;
  Handler handle_;
  std::shared_ptr<State> state_;
};

}  // namespace brevid::ui
