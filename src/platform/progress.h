// What a worker shares with its progress window.
#pragma once

#include <atomic>
#include <cstdint>

namespace brevid {

// Messages a worker sends its progress window.
enum ProgressMessage : uint32_t {
  kProgressClose = 0x0010,     // the work is over
  kProgressSetRange = 0x8007,  // wParam: number of units, lParam: step; position back to 0
  kProgressStep = 0x8008,      // advance one step
  kProgressSetPos = 0x8009,    // wParam: units done
};

// Implemented by the GUI's progress window (queued onto the Qt thread), the
// CLI's terminal bar and the tests' recorder. Called from the worker thread.
class ProgressTarget {
 public:
  virtual ~ProgressTarget() = default;
  // Returns once the message has been handled.
  virtual void Send(uint32_t message, uint64_t wParam, uint64_t lParam) = 0;
  // Queues the message and returns at once.
  virtual void Post(uint32_t message, uint64_t wParam, uint64_t lParam) = 0;
};

struct ProgressRecord {
  std::atomic<uint32_t> stop{0};  // 0 run, 1 stop requested
  ProgressTarget* window = nullptr;

  bool StopRequested() const { return stop.load(std::memory_order_relaxed) != 0; }
  void Send(uint32_t message, uint64_t wParam = 0, uint64_t lParam = 0) const {
    if (window) window->Send(message, wParam, lParam);
  }
  void Post(uint32_t message, uint64_t wParam = 0, uint64_t lParam = 0) const {
    if (window) window->Post(message, wParam, lParam);
  }
};

}  // namespace brevid
