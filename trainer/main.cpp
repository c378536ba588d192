// The button trainer: wires the Handler to the HID library, lets it learn
// buttons for a fixed time and exits.
#include "hid/DeviceManager.h"
#include "hid/HidEntryPoints.h"
#include "trainer/ConsoleOutput.h"
#include "trainer/Handler.h"

#ifndef BT_RUN_MILLISECONDS
#define BT_RUN_MILLISECONDS 120000
#endif

namespace {

constexpr DWORD kRunMilliseconds = BT_RUN_MILLISECONDS;

// The process-wide objects, constructed in this order and destroyed in the
// reverse one; being in one file fixes the order. Should one fail to
// construct, the program ends before main, as it must.
// NOLINTNEXTLINE(cert-err58-cpp)
MaruvelHID::DeviceManager manager;
Handler handler;

// Binds hid.dll once the two objects above exist.
struct HidBinding {
  HidBinding() { HidEntryPoints::Bind(); }
} hidBinding;  // NOLINT(cert-err58-cpp)

// The first to go at exit: stops the reader thread, so that no report
// reaches a trainer being destroyed and no Poll walks a registry being freed.
struct ReaderStop {
  ReaderStop() = default;
  ~ReaderStop() { manager.Stop(); }
  ReaderStop(const ReaderStop&) = delete;
  ReaderStop& operator=(const ReaderStop&) = delete;
  ReaderStop(ReaderStop&&) = delete;
  ReaderStop& operator=(ReaderStop&&) = delete;
} readerStop;

}  // namespace

int main() {
  manager.sink = &handler;
  manager.Refresh();
  // The prompt goes out before the reader thread exists: a button learnt at
  // once must not print ahead of it.
  WriteMessage("Waiting for input...\n");
  manager.Start();
  Sleep(kRunMilliseconds);
  return 0;
}
