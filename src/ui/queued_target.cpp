#include "ui/queued_target.h"

#include <QThread>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace brevid::ui {

struct QueuedProgressTarget::State {
  std::mutex mutex;
  std::condition_variable done;
  uint64_t sent = 0;
  uint64_t handled = 0;
  bool abandoned = false;
  // Gathered since the last hand-over: a position (when `hasPosition`) and
  // the steps taken after it.
  bool hasPosition = false;
  uint64_t position = 0;
  uint64_t steps = 0;
  bool flushQueued = false;  // a hand-over is on its way to the window
  std::chrono::steady_clock::time_point lastHandOver{};

  // Runs the gathered messages through `handle`; on the window's thread.
  void Flush(const Handler& handle) {
    bool withPosition;
    uint64_t position, steps;
    {
      std::lock_guard lock(mutex);
      withPosition = std::exchange(hasPosition, false);
      position = this->position;
      steps = std::exchange(this->steps, 0);
      flushQueued = false;
    }
    if (withPosition) handle(kProgressSetPos, position, 0);
    if (steps) handle(kProgressStep, steps, 0);
  }
};

namespace {

bool Gathered(uint32_t message) { return message == kProgressStep || message == kProgressSetPos; }

}  // namespace

QueuedProgressTarget::QueuedProgressTarget(QObject* context, Handler handle)
    : context_(context), handle_(std::move(handle)), state_(std::make_shared<State>()) {}

QueuedProgressTarget::~QueuedProgressTarget() { Abandon(); }

bool QueuedProgressTarget::Gather(uint32_t message, uint64_t wParam) {
  State& s = *state_;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(s.mutex);
  if (message == kProgressSetPos) {
    s.hasPosition = true;
    s.position = wParam;
    s.steps = 0;
  } else {
    ++s.steps;
  }
  if (s.flushQueued || now - s.lastHandOver < kGatherInterval) return false;
  s.lastHandOver = now;
  s.flushQueued = true;
  return true;
}

void QueuedProgressTarget::Send(uint32_t message, uint64_t wParam, uint64_t lParam) {
  if (QThread::currentThread() == context_->thread()) {
    state_->Flush(handle_);
    handle_(message, wParam, lParam);
    return;
  }
  const bool gathered = Gathered(message);
  if (gathered && !Gather(message, wParam)) return;
  std::shared_ptr<State> state = state_;
  uint64_t ticket;
  {
    std::lock_guard lock(state->mutex);
    if (state->abandoned) return;
    ticket = ++state->sent;
  }
  QMetaObject::invokeMethod(
      context_,
      [handle = handle_, state, gathered, message, wParam, lParam, ticket] {
        state->Flush(handle);
        if (!gathered) handle(message, wParam, lParam);
        std::lock_guard lock(state->mutex);
        state->handled = ticket;
        state->done.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(state->mutex);
  state->done.wait(lock, [&] { return state->abandoned || state->handled >= ticket; });
}

void QueuedProgressTarget::Post(uint32_t message, uint64_t wParam, uint64_t lParam) {
  const bool gathered = Gathered(message);
  if (gathered && !Gather(message, wParam)) return;
  QMetaObject::invokeMethod(
      context_,
      [handle = handle_, state = state_, gathered, message, wParam, lParam] {
        state->Flush(handle);
        if (!gathered) handle(message, wParam, lParam);
      },
      Qt::QueuedConnection);
}

void QueuedProgressTarget::Abandon() {
  std::lock_guard lock(state_->mutex);
  state_->abandoned = true;
  state_->done.notify_all();
}

}  // namespace brevid::ui
