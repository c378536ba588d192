#include "platform/posix/scripted/ScriptedDevices.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace standin {

namespace {

// What the next read of one handle gives.
struct Delivery {
  std::vector<BYTE> report;
  DWORD error = ERROR_SUCCESS;
};

// The reports waiting on one open handle. Guarded by the state's mutex.
struct HandleQueue {
  HandleQueue() : ready(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~HandleQueue() { (void)close(ready); }
  HandleQueue(const HandleQueue&) = delete;
  HandleQueue& operator=(const HandleQueue&) = delete;
  HandleQueue(HandleQueue&&) = delete;
  HandleQueue& operator=(HandleQueue&&) = delete;

  // Keeps 'ready' readable exactly while there is something to take.
  void Signal() const {
    const std::uint64_t one = 1;
    const ssize_t written = write(ready, &one, sizeof one);
    (void)written;  // an eventfd that is readable already stays so
  }
  void Unsignal() const {
    std::uint64_t count = 0;
    const ssize_t taken = read(ready, &count, sizeof count);
    (void)taken;  // an eventfd that is not readable has nothing to reset
  }

  std::deque<Delivery> deliveries;
  bool gone = false;
  const int ready;
};

struct PathEntry {
  ScriptedDevice device;
  bool present = false;
  bool readsStart = true;
  int opens = 0;
  int readsStarted = 0;
  std::vector<std::shared_ptr<HandleQueue>> handles;
};

}  // namespace

struct ScriptedDevices::State {
  mutable std::mutex mutex;
  mutable std::condition_variable readStarted;
  std::map<Path, PathEntry> entries;
  std::vector<Path> order;  // paths in the order first plugged

  // Queues one delivery on every open handle of the path.
  bool Queue(const Path& path, const Delivery& delivery) {
    const std::lock_guard<std::mutex> hold(mutex);
    auto found = entries.find(path);
    if (found == entries.end() || found->second.handles.empty()) {
      return false;
    }
    for (const auto& handle : found->second.handles) {
      handle->deliveries.push_back(delivery);
      handle->Signal();
    }
    return true;
  }
};

namespace {

class ScriptedInterface final : public OpenInterface {
 public:
  ScriptedInterface(std::shared_ptr<ScriptedDevices::State> shared, Path opened,
                    std::shared_ptr<HandleQueue> handleQueue)
      : state(std::move(shared)), path(std::move(opened)), queue(std::move(handleQueue)) {}

  ~ScriptedInterface() override {
    const std::lock_guard<std::mutex> hold(state->mutex);
    auto& handles = state->entries[path].handles;
    handles.erase(std::remove(handles.begin(), handles.end(), queue), handles.end());
  }
  ScriptedInterface(const ScriptedInterface&) = delete;
  ScriptedInterface& operator=(const ScriptedInterface&) = delete;
  ScriptedInterface(ScriptedInterface&&) = delete;
  ScriptedInterface& operator=(ScriptedInterface&&) = delete;

  bool Attributes(HIDD_ATTRIBUTES& out) override {
    const std::lock_guard<std::mutex> hold(state->mutex);
    const ScriptedDevice& device = state->entries[path].device;
    if (queue->gone || !device.hasAttributes) {
      return false;
    }
    out = device.attributes;
    return true;
  }

  bool ProductString(Path& out) override {
    const std::lock_guard<std::mutex> hold(state->mutex);
    const ScriptedDevice& device = state->entries[path].device;
    if (queue->gone || !device.hasProductString) {
      return false;
    }
    out = device.product;
    return true;
  }

  bool Capabilities(HIDP_CAPS& out) override {
    const std::lock_guard<std::mutex> hold(state->mutex);
    const ScriptedDevice& device = state->entries[path].device;
    if (queue->gone || !device.hasPreparsedData) {
      return false;
    }
    out = device.caps;
    return true;
  }

  bool StartRead(DWORD& error) override {
    {
      const std::lock_guard<std::mutex> hold(state->mutex);
      PathEntry& entry = state->entries[path];
      // A handle whose device went away refuses reads at once, also when no
      // read was in flight to learn it from, and also once the path is back.
      if (queue->gone) {
        error = ERROR_DEVICE_NOT_CONNECTED;
        return false;
      }
      if (!entry.readsStart) {
        error = ERROR_GEN_FAILURE;
        return false;
      }
      ++entry.readsStarted;
    }
    state->readStarted.notify_all();
    return true;
  }

  int ReadyDescriptor() const override { return queue->ready; }

  ReadResult TakeReport(BYTE* buffer, DWORD size) override {
    const std::lock_guard<std::mutex> hold(state->mutex);
    ReadResult result;
    if (!queue->deliveries.empty()) {
      const Delivery& next = queue->deliveries.front();
      result.status = ReadResult::kDone;
      result.error = next.error;
      result.bytes = std::min<DWORD>(size, static_cast<DWORD>(next.report.size()));
      if (result.bytes != 0) {
        std::memcpy(buffer, next.report.data(), result.bytes);
      }
      queue->deliveries.pop_front();
    } else if (queue->gone) {
      result.status = ReadResult::kGone;
    }
    if (queue->deliveries.empty() && !queue->gone) {
      queue->Unsignal();
    }
    return result;
  }

 private:
  std::shared_ptr<ScriptedDevices::State> state;
  Path path;
  std::shared_ptr<HandleQueue> queue;
};

}  // namespace

ScriptedDevices::ScriptedDevices() : state(std::make_shared<State>()) {}

ScriptedDevices::~ScriptedDevices() = default;

void ScriptedDevices::Plug(const ScriptedDevice& device) {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto [entry, added] = state->entries.try_emplace(device.path);
  if (added) {
    state->order.push_back(device.path);
  }
  entry->second.device = device;
  entry->second.present = true;
}

void ScriptedDevices::Unplug(const Path& path) {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto found = state->entries.find(path);
  if (found == state->entries.end()) {
    return;
  }
  found->second.present = false;
  for (const auto& handle : found->second.handles) {
    handle->gone = true;
    handle->Signal();
  }
  found->second.handles.clear();
}

bool ScriptedDevices::Deliver(const Path& path, const std::vector<BYTE>& report) {
  return state->Queue(path, Delivery{report, ERROR_SUCCESS});
}

bool ScriptedDevices::DeliverNothing(const Path& path) {
  return state->Queue(path, Delivery{{}, ERROR_SUCCESS});
}

bool ScriptedDevices::DeliverError(const Path& path, DWORD error) {
  return state->Queue(path, Delivery{{}, error});
}

void ScriptedDevices::SetReadsStart(const Path& path, bool start) {
  const std::lock_guard<std::mutex> hold(state->mutex);
  state->entries[path].readsStart = start;
}

int ScriptedDevices::Opens(const Path& path) const {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto found = state->entries.find(path);
  return found == state->entries.end() ? 0 : found->second.opens;
}

int ScriptedDevices::OpenHandles(const Path& path) const {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto found = state->entries.find(path);
  return found == state->entries.end() ? 0 : static_cast<int>(found->second.handles.size());
}

int ScriptedDevices::ReadsStarted(const Path& path) const {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto found = state->entries.find(path);
  return found == state->entries.end() ? 0 : found->second.readsStarted;
}

bool ScriptedDevices::WaitForReads(const Path& path, int count,
                                   std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(state->mutex);
  return state->readStarted.wait_for(hold, timeout, [&] {
    auto found = state->entries.find(path);
    return found != state->entries.end() && found->second.readsStarted >= count;
  });
}

std::vector<Path> ScriptedDevices::PresentPaths() {
  const std::lock_guard<std::mutex> hold(state->mutex);
  std::vector<Path> present;
  for (const Path& path : state->order) {
    if (state->entries[path].present) {
      present.push_back(path);
    }
  }
  return present;
}

std::unique_ptr<OpenInterface> ScriptedDevices::Open(const Path& path, DWORD& error) {
  const std::lock_guard<std::mutex> hold(state->mutex);
  auto found = state->entries.find(path);
  if (found == state->entries.end() || !found->second.present) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (!found->second.device.opens) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  auto queue = std::make_shared<HandleQueue>();
  found->second.handles.push_back(queue);
  ++found->second.opens;
  return std::make_unique<ScriptedInterface>(state, path, std::move(queue));
}

}  // namespace standin
