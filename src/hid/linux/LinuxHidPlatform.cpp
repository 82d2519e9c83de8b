#include "hid/linux/LinuxHidPlatform.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hid/ReportDescriptor.h"

namespace {

// The values of `keys` in a sysfs device's uevent file ("KEY=value" lines); empty when absent.
std::map<std::string, std::string> UeventValues(const std::string& sysPath,
                                                std::initializer_list<std::string_view> keys) {
  std::map<std::string, std::string> values;
  for (std::string_view key : keys)
    values[std::string(key)];
  std::ifstream uevent(sysPath + "/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos)
      continue;
    const auto it = values.find(line.substr(0, eq));
    if (it != values.end())
      it->second = line.substr(eq + 1);
  }
  return values;
}

// Whether events come from a udev daemon (after its rules have run). A umockdev test bed sends
// its events as the daemon would.
bool UdevDaemonRuns() {
  return ::access("/run/udev/control", F_OK) == 0 || std::getenv("UMOCKDEV_DIR");
}

// Whether the daemon keeps its database here: a test bed's devices never are in it.
bool UdevDatabaseKept() {
  return ::access("/run/udev/control", F_OK) == 0 && !std::getenv("UMOCKDEV_DIR");
}

// Without a wake-up descriptor the reader looks for a stop this often.
constexpr int WAKE_POLL_MS = 100;

// Large enough for any report descriptor the kernel hands out (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t MAX_DESCRIPTOR_SIZE = 4096;

std::string Text(const char* s) {
  return s ? std::string(s) : std::string();
}

TResult<std::vector<std::uint8_t>> ReadDescriptor(const std::string& hidSysPath) {
  const std::string path = hidSysPath + "/report_descriptor";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return SystemError(QString::fromStdString(path), errno);
  std::vector<std::uint8_t> out(MAX_DESCRIPTOR_SIZE);
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, out.data() + total, out.size() - total);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      // Half a descriptor would give wrong report lengths.
      const int error = errno;
      ::close(fd);
      return SystemError(QString::fromStdString(path), error);
    }
    if (n == 0)
      break;
    total += static_cast<std::size_t>(n);
    if (total == out.size())
      break;
  }
  ::close(fd);
  out.resize(total);
  return out;
}

// "0003:FFF0:0018.000A" -> 0xA; 0 when the name has another form.
std::uint32_t SequenceNumber(const char* hidName) {
  if (!hidName)
    return 0;
  const char* dot = std::strrchr(hidName, '.');
  if (!dot || !dot[1])
    return 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(dot + 1, &end, 16);
  return *end == '\0' ? static_cast<std::uint32_t>(value) : 0;
}

class THidrawHandle : public THidPlatformHandle {
 public:
  THidrawHandle(int fd, bool reader, std::string hidSysPath)
      : fd_(fd), reader_(reader), hidSysPath_(std::move(hidSysPath)) {
    // Without it (no descriptors left) the reader still works: its waits then end every
    // WAKE_POLL_MS to look for a stop, instead of at once.
    if (reader)
      wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }
  ~THidrawHandle() override {
    if (fd_ >= 0)
      ::close(fd_);
    if (wakeFd_ >= 0)
      ::close(wakeFd_);
  }

  TResult<void> Write(const std::uint8_t* data, std::size_t size) override {
    if (closed_ || fd_ < 0)
      return SystemError(QStringLiteral("write"), EBADF);
    for (;;) {
      if (::write(fd_, data, size) >= 0)
        return {};
      if (errno != EINTR)
        return SystemError(QStringLiteral("write"), errno);
    }
  }

  EWait WaitInput() override {
    if (!reader_)
      return EWait::Closed;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    const int timeout = wakeFd_ >= 0 ? -1 : WAKE_POLL_MS;
    for (;;) {
      const int n = ::poll(fds, count, timeout);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        return EWait::Lost;
      if (closed_)
        return EWait::Closed;
      if (count == 2 && (fds[1].revents & POLLIN)) {
        std::uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &wakes, sizeof wakes);
      }
      if (woken_.exchange(false))
        return EWait::Woken;
      if (fds[0].revents & POLLIN)
        return EWait::Ready;
      // POLLHUP / POLLERR / POLLNVAL: the device went away.
      if (fds[0].revents)
        return EWait::Lost;
      // A time-out without a wake-up, or a wake-up seen already: wait on.
    }
  }

  ERead ReadInput(std::uint8_t* buffer, std::size_t capacity, std::size_t& got,
                  int& error) override {
    got = 0;
    if (closed_ || capacity == 0) {
      error = EBADF;
      return closed_ ? ERead::Lost : ERead::Empty;
    }
    // Without report ids hidraw gives the data bytes only; the program expects the 0 id first.
    const bool prependId = !UsesReportIds();
    std::uint8_t* into = prependId ? buffer + 1 : buffer;
    std::size_t room = prependId ? capacity - 1 : capacity;
    // A read of 0 bytes would look like the end of the device: read one and let it be cut off.
    std::uint8_t scratch = 0;
    const bool idOnly = room == 0;
    if (idOnly) {
      into = &scratch;
      room = 1;
    }
    ssize_t n;
    do {
      n = ::read(fd_, into, room);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return ERead::Empty;
    if (n <= 0) {
      error = n == 0 ? ENODEV : errno;
      return ERead::Lost;
    }
    if (prependId)
      buffer[0] = 0;
    got = idOnly ? 1 : static_cast<std::size_t>(n) + (prependId ? 1 : 0);
    return ERead::Report;
  }

  void DiscardInput() override {
    if (closed_ || !reader_)
      return;
    std::uint8_t scratch[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, scratch, sizeof scratch);
      if (n > 0 || (n < 0 && errno == EINTR))
        continue;
      break;
    }
  }

  void Wake() override {
    woken_ = true;
    if (wakeFd_ < 0)
      return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(wakeFd_, &one, sizeof one);
  }

  void Close() override {
    closed_ = true;
    Wake();
  }

 private:
  // Only the reader asks; the answer does not change while the handle is open.
  bool UsesReportIds() {
    if (reportIds_ < 0) {
      const TResult<std::vector<std::uint8_t>> read = ReadDescriptor(hidSysPath_);
      reportIds_ = read && ParseReportDescriptor(read->data(), read->size()).UsesReportIds;
    }
    return reportIds_ > 0;
  }

  int fd_;
  bool reader_;
  int wakeFd_ = -1;
  std::string hidSysPath_;
  std::atomic<bool> closed_{false};
  // Set by Wake until a wait has seen it; the eventfd only interrupts the poll.
  std::atomic<bool> woken_{false};
  int reportIds_ = -1;
};

// Opened without rights: only a proof that the node exists.
class TProbeHandle : public THidPlatformHandle {
 public:
  TResult<void> Write(const std::uint8_t*, std::size_t) override {
    return SystemError(QStringLiteral("write"), EBADF);
  }
  EWait WaitInput() override { return EWait::Closed; }
  ERead ReadInput(std::uint8_t*, std::size_t, std::size_t& got, int& error) override {
    got = 0;
    error = EBADF;
    return ERead::Lost;
  }
  void DiscardInput() override {}
  void Wake() override {}
  void Close() override {}
};

}  // namespace

TLinuxHidPlatform::TLinuxHidPlatform() : udev_(udev_new()) {}

TLinuxHidPlatform::~TLinuxHidPlatform() {
  StopMonitor();
  if (udev_)
    udev_unref(udev_);
}

bool TLinuxHidPlatform::Available() {
  return udev_ != nullptr;
}

std::vector<THidPnPInfo> TLinuxHidPlatform::Enumerate() {
  std::vector<THidPnPInfo> list;
  if (!udev_)
    return list;
  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  if (!enumerate)
    return list;
  udev_enumerate_add_match_subsystem(enumerate, "hidraw");
  // A node udev has not finished with may still lack its rights; its "add" comes later.
  if (UdevDatabaseKept())
    udev_enumerate_add_match_is_initialized(enumerate);
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    // Everything a rescan needs is in the path, <hid device>/hidraw/hidrawN: reading the
    // devices themselves is left to GetAttributes, which only new devices need.
    const std::string rawPath = Text(udev_list_entry_get_name(entry));
    const std::size_t slash = rawPath.rfind('/');
    if (slash == std::string::npos)
      continue;
    const std::string sysname = rawPath.substr(slash + 1);
    const std::string classDir = rawPath.substr(0, slash);
    static constexpr std::string_view HIDRAW_DIR = "/hidraw";
    if (!classDir.ends_with(HIDRAW_DIR))
      continue;
    const std::string hidPath = classDir.substr(0, classDir.size() - HIDRAW_DIR.size());
    const std::uint32_t devInst = SequenceNumber(hidPath.c_str() + hidPath.rfind('/') + 1);
    if (devInst == 0 || sysname.empty())
      continue;
    THidPnPInfo info;
    info.DevInst = devInst;
    info.DevicePath = "/dev/" + sysname;
    info.SysPath = hidPath;
    // HID_PHYS is the USB port: a hub coming back from its bootloader switch keeps it, which
    // tells it apart from other hubs; HID_UNIQ is its USB serial number, where it has one. A
    // rescan that finds these changed (written after the node appeared) reads the device's
    // identity again.
    info.Properties = UeventValues(hidPath, {"HID_PHYS", "HID_ID", "HID_UNIQ"});
    list.push_back(std::move(info));
  }
  udev_enumerate_unref(enumerate);
  return list;
}

THidPlatform::THandleResult TLinuxHidPlatform::Open(const THidPnPInfo& info, EHidAccess access) {
  const QString path = QString::fromStdString(info.DevicePath);
  if (access == EHidAccess::None) {
    struct stat st;
    if (::stat(info.DevicePath.c_str(), &st) != 0)
      return SystemError(path, errno);
    return std::unique_ptr<THidPlatformHandle>(std::make_unique<TProbeHandle>());
  }
  const bool reader = access == EHidAccess::Read;
  // The reader waits in poll() and must never block in read(): a discard may have emptied the
  // queue between the two.
  const int flags = reader ? O_RDONLY | O_NONBLOCK | O_CLOEXEC : O_RDWR | O_CLOEXEC;
  const int fd = ::open(info.DevicePath.c_str(), flags);
  if (fd < 0)
    return SystemError(path, errno);
  return std::unique_ptr<THidPlatformHandle>(
      std::make_unique<THidrawHandle>(fd, reader, info.SysPath));
}

TResult<HIDD_ATTRIBUTES> TLinuxHidPlatform::GetAttributes(const THidPnPInfo& info) {
  const QString path = QString::fromStdString(info.SysPath);
  if (!udev_)
    return TError{path + QStringLiteral(": udev is not available")};
  errno = 0;
  udev_device* hid = udev_device_new_from_syspath(udev_, info.SysPath.c_str());
  if (!hid)
    return SystemError(path, errno ? errno : ENODEV);
  HIDD_ATTRIBUTES attributes;
  unsigned bus = 0, vendor = 0, product = 0;
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  const bool ok = id && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3;
  if (ok) {
    attributes.VendorID = static_cast<std::uint16_t>(vendor);
    attributes.ProductID = static_cast<std::uint16_t>(product);
    attributes.VersionNumber = 0;
    // Other buses (Bluetooth, I2C, uhid) have no USB parent and no version.
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device")) {
      if (const char* version = udev_device_get_sysattr_value(usb, "bcdDevice")) {
        attributes.VersionNumber = static_cast<std::uint16_t>(std::strtoul(version, nullptr, 16));
      }
    }
  }
  udev_device_unref(hid);
  if (!ok)
    return TError{path + QStringLiteral(": no HID_ID in its udev record")};
  return attributes;
}

TResult<HIDP_CAPS> TLinuxHidPlatform::GetCaps(const THidPnPInfo& info) {
  const TResult<std::vector<std::uint8_t>> descriptor = ReadDescriptor(info.SysPath);
  if (!descriptor)
    return descriptor.Error();
  return CapsFromReportDescriptor(descriptor->data(), descriptor->size());
}

bool TLinuxHidPlatform::SetChangeNotice(std::function<void()> notice) {
  notice_ = std::move(notice);
  if (!notice_) {
    StopMonitor();
    return true;
  }
  if (StartMonitor())
    return true;
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) {
    qWarning("No udev monitor (%s): HID devices are looked for every 2 s instead.",
             std::strerror(errno));
  }
  return false;
}

bool TLinuxHidPlatform::StartMonitor() {
  if (monitor_)
    return true;
  if (!udev_)
    return false;
  // Events from the udev daemon come after its rules ran (node created, rights set); where no
  // daemon runs, only the kernel's own events exist.
  monitor_ = udev_monitor_new_from_netlink(udev_, UdevDaemonRuns() ? "udev" : "kernel");
  if (!monitor_)
    return false;
  udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
  if (udev_monitor_enable_receiving(monitor_) < 0) {
    const int error = errno;
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    errno = error;
    return false;
  }
  const int fd = udev_monitor_get_fd(monitor_);
  // libudev's receive must not block when a burst has been drained.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { DrainMonitor(); });
  return true;
}

void TLinuxHidPlatform::StopMonitor() {
  delete notifier_;
  notifier_ = nullptr;
  if (monitor_)
    udev_monitor_unref(monitor_);
  monitor_ = nullptr;
}

void TLinuxHidPlatform::DrainMonitor() {
  bool any = false;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    any = true;
    udev_device_unref(device);
  }
  // One rescan for the whole burst.
  if (any && notice_)
    notice_();
}
