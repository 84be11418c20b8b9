#include "ui/queued_target.h"

#include <QThread>
#include <condition_variable>
#include <mutex>

namespace brevid::ui {

struct QueuedProgressTarget::State {
  std::mutex mutex;
  std::condition_variable done;
  uint64_t sent = 0;
  uint64_t handled = 0;
  bool abandoned = false;
};

QueuedProgressTarget::QueuedProgressTarget(QObject* context, Handler handle)
    : context_(context), handle_(std::move(handle)), state_(std::make_shared<State>()) {}

QueuedProgressTarget::~QueuedProgressTarget() { Abandon(); }

void QueuedProgressTarget::Send(uint32_t message, uint64_t wParam, uint64_t lParam) {
  if (QThread::currentThread() == context_->thread()) {
    handle_(message, wParam, lParam);
    return;
  }
  std::shared_ptr<State> state = state_;
  uint64_t ticket;
  {
    std::lock_guard lock(state->mutex);
    if (state->abandoned) return;
    ticket = ++state->sent;
  }
  QMetaObject::invokeMethod(
      context_,
      [handle = handle_, state, message, wParam, lParam, ticket] {
        handle(message, wParam, lParam);
        std::lock_guard lock(state->mutex);
        state->handled = ticket;
        state->done.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(state->mutex);
  state->done.wait(lock, [&] { return state->abandoned || state->handled >= ticket; });
}

void QueuedProgressTarget::Post(uint32_t message, uint64_t wParam, uint64_t lParam) {
  QMetaObject::invokeMethod(
      context_, [handle = handle_, message, wParam, lParam] { handle(message, wParam, lParam); },
      Qt::QueuedConnection);
}

void QueuedProgressTarget::Abandon() {
  std::lock_guard lock(state_->mutex);
  state_->abandoned = true;
  state_->done.notify_all();
}

}  // namespace brevid::ui
