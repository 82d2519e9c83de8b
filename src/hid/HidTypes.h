#pragma once
// Types shared by the HID layer and the layers above it: the device's callbacks and the device
// operations the command protocol needs.

#include <cstdint>
#include <utility>

#include "base/Result.h"
#include "hid/HidCaps.h"

class THidDevice;

// A device's callback: a plain function and the object it works for. Copying and calling it
// allocates nothing, which matters for the data handler: it runs for every input report.
template <typename Sig>
class THandler;

template <typename R, typename... Args>
class THandler<R(Args...)> {
 public:
  using Fn = R (*)(void* receiver, Args...);

  THandler() = default;
  THandler(Fn fn, void* receiver) : fn_(fn), receiver_(receiver) {}

  // Binds a member function: THandler<...>::Bind<&T::Method>(obj).
  template <auto Method, typename C>
  static THandler Bind(C* obj) {
    return THandler(
        [](void* r, Args... args) -> R {
          return (static_cast<C*>(r)->*Method)(std::forward<Args>(args)...);
        },
        obj);
  }

  explicit operator bool() const { return fn_ != nullptr; }

  R operator()(Args... args) const { return fn_(receiver_, std::forward<Args>(args)...); }

 private:
  Fn fn_ = nullptr;
  void* receiver_ = nullptr;
};

// HidDev, ReportID, Data (the bytes after the report id), Size (bytes read minus 1).
using THidDataEvent = THandler<void(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t)>;
// The device's reader found its node hung up (run on the UI thread, once per hang-up).
using THidLostEvent = THandler<void(THidDevice*)>;

// What the command protocol needs of a device. THidDevice implements it; tests use scripted
// stand-ins.
class THidReportDevice {
 public:
  virtual ~THidReportDevice() = default;

  virtual HIDP_CAPS QueryCaps() = 0;
  // Writes one output report; byte 0 is the report id. Blocks until the platform is done.
  virtual TResult<void> WriteReport(const std::uint8_t* buffer, std::uint32_t count) = 0;
  virtual void SetDataHandler(const THidDataEvent& handler) = 0;
  // Drops input reports that arrived before this call and have not reached the data handler
  // yet, so that a reply can only be one that came after the request.
  virtual void DiscardPendingInput() = 0;
  // Hands reports already read to the data handler now, on this thread, instead of at the next
  // turn of the event loop. A device whose reports only come through the event loop has none.
  virtual void DeliverPendingInput() {}
  // While held, the device's reader does not read: DeliverPendingInput reads what waits itself,
  // which spares the reader a wake-up per report in a run of exchanges. A hold left unused ends
  // by itself after a short while.
  virtual void HoldReader(bool) {}
};
