// What the window shares across its panes: the disk list (for the whole
// run), the process-wide busy flag, and the workers not yet taken back.
// User-interface thread only, except `busy`, which workers write.
#pragma once

#include <functional>
#include <thread>

#include "device/disk_info.h"
#include "tasks/task_contract.h"

namespace brevid::ui {

struct AppState {
  DiskList disks;
  BusyFlag busy{0};
  // Workers started whose results the window has not yet shown: a command
  // must wait for them too, or it could race the filling of a pane.
  int pendingWorkers = 0;

  bool Busy() const { return busy.load() != 0 || pendingWorkers > 0; }
};

// One worker thread of a pane. Start it on the user-interface thread; Join
// once its progress window has handled kProgressClose (the worker then has
// nothing left to send), or after abandoning that window.
class Worker {
 public:
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() { Join(); }

  void Start(AppState& app, std::function<void()> body) {
    Join();
    app_ = &app;
    ++app.pendingWorkers;
    thread_ = std::thread(std::move(body));
  }
  bool Running() const { return thread_.joinable(); }
  void Join() {
    if (!thread_.joinable()) return;
    thread_.join();
    --app_->pendingWorkers;
  }

 private:
  AppState* app_ = nullptr;
  std::thread thread_;
};

}  // namespace brevid::ui
