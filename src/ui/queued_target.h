// A ProgressTarget whose messages are handled on the thread of a Qt object:
// how a worker reaches a window. Send waits for its own message only and
// gives up once the target is abandoned; Post returns at once.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/progress.h"

namespace brevid::ui {

class QueuedProgressTarget : public ProgressTarget {
 public:
  using Handler = std::function<void(uint32_t message, uint64_t wParam, uint64_t lParam)>;

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
  QObject* context_;
  Handler handle_;
  std::shared_ptr<State> state_;
};

}  // namespace brevid::ui
