#pragma once
// Types shared by the HID layer and the layers above it: the capability record, the handler
// slots (a function plus its receiver, compared by function only) and the device operations
// the command protocol needs.

#include <cstdint>
#include <utility>

class THidDevice;

// Report lengths of a device. Both report lengths count the leading report-id byte, also for a
// device that uses no report ids; 0 where the device has no report of that type.
struct HIDP_CAPS {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
};

// A handler slot: a plain function and the object it works for. Two handlers are "the same"
// when their functions are the same, whatever their receivers; the controller relies on that
// when it passes new defaults on to devices that still carry the old ones.
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
  bool SameFunction(const THandler& other) const { return fn_ == other.fn_; }
  Fn Function() const { return fn_; }
  void* Receiver() const { return receiver_; }

  R operator()(Args... args) const { return fn_(receiver_, std::forward<Args>(args)...); }

 private:
  Fn fn_ = nullptr;
  void* receiver_ = nullptr;
};

// HidDev, ReportID, Data (the bytes after the report id), Size (bytes read minus 1).
using THidDataEvent = THandler<void(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t)>;
// HidDev, Error (the platform's error code).
using THidDataErrorEvent = THandler<void(THidDevice*, std::uint32_t)>;
using THidPlugEvent = THandler<void(THidDevice*)>;
// HidDev, Idx; returns whether to go on.
using THidEnumerateEvent = THandler<bool(THidDevice*, std::int32_t)>;

// What the command protocol needs of a device. THidDevice implements it; tests use scripted
// stand-ins.
class THidReportDevice {
 public:
  virtual ~THidReportDevice() = default;

  virtual HIDP_CAPS QueryCaps() = 0;
  // Writes one output report; byte 0 is the report id. Blocks until the platform is done.
  virtual bool WriteReport(const std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t& written) = 0;
  virtual void SetDataHandler(const THidDataEvent& handler) = 0;
  // Drops input reports that arrived before this call and have not reached the data handler
  // yet, so that a reply can only be one that came after the request.
  virtual void DiscardPendingInput() = 0;
  // Hands reports already read to the data handler now, on this thread, instead of at the next
  // turn of the event loop. A device whose reports only come through the event loop has none.
  virtual void DeliverPendingInput() {}
};
