#include "UmockdevHub.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <utility>

#include "HidrawTestbed.h"
#include "protocol/Frame.h"
#include "protocol/HubDevice.h"

extern "C" {
#include <umockdev.h>
}

namespace {

// A write to the pty master reaches the node's readers a moment later, not inside the write: a
// FIONREAD of 0 straight after it may still mean "unread".
constexpr qint64 FLIP_MARGIN_MS = 2;

// The hub's vendor and product id as the kernel writes them, `digits` hex digits each.
QString HubIds(int digits) {
  return QString("%1:%2")
      .arg(HUB_VENDOR_ID, digits, 16, QLatin1Char('0'))
      .arg(HUB_PRODUCT_ID, digits, 16, QLatin1Char('0'))
      .toUpper();
}

}  // namespace

TUmockdevTestbed::TUmockdevTestbed() : testbed_(umockdev_testbed_new()) {}

TUmockdevTestbed::~TUmockdevTestbed() {
  g_object_unref(testbed_);
}

bool TUmockdevTestbed::Add(const QByteArray& record) {
  GError* error = nullptr;
  const bool ok = umockdev_testbed_add_from_string(testbed_, record.constData(), &error);
  if (error) {
    qWarning("umockdev: %s", error->message);
    g_error_free(error);
  }
  return ok;
}

QByteArray TUmockdevTestbed::RootDir() const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  const QByteArray dir(root);
  g_free(root);
  return dir;
}

struct TUmockdevHubConnection::TAttachment {
  TUmockdevHubConnection* owner = nullptr;
  QByteArray node;
  QByteArray sysPath;
  void* handler = nullptr;  // UMockdevIoctlBase
  int master = -1;          // the testbed's
  int probe = -1;           // a second reader, only asked how much is unread
  std::atomic<bool> live{true};
  QElapsedTimer lastWrite;
};

TUmockdevHubConnection::TUmockdevHubConnection(TUmockdevTestbed& testbed,
                                               const std::vector<std::uint8_t>& descriptor,
                                               TSink toHub, int firstMinor)
    : testbed_(testbed),
      descriptorHex_(
          QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(descriptor.data()),
                                         static_cast<qsizetype>(descriptor.size()))
                                  .toHex())),
      toHub_(std::move(toHub)),
      firstMinor_(firstMinor) {
  pumpTimer_.setSingleShot(true);
  pumpTimer_.setTimerType(Qt::PreciseTimer);
  pumpTimer_.setInterval(1);
  QObject::connect(&pumpTimer_, &QTimer::timeout, &context_, [this] { Pump(); });
}

TUmockdevHubConnection::~TUmockdevHubConnection() {
  for (auto& a : attachments_) {
    a->live = false;
    umockdev_testbed_detach_ioctl(testbed_.Get(), a->node.constData(), nullptr);
    g_object_unref(static_cast<UMockdevIoctlBase*>(a->handler));
    if (a->probe >= 0)
      ::close(a->probe);
  }
}

QString TUmockdevHubConnection::Node() const {
  return live_ ? QString::fromLatin1(live_->node) : QString();
}

void TUmockdevHubConnection::Attach(bool canReadWrite) {
  if (live_)
    Detach();
  const int minor = firstMinor_ + static_cast<int>(attachments_.size());
  const int port = minor + 1;
  // The sequence number makes the DevInst: new for every attachment.
  const QString hidName =
      QString("0003:%1.%2").arg(HubIds(4)).arg(minor + 1, 4, 16, QLatin1Char('0')).toUpper();
  const QString phys = phys_.value_or(QString("usb-0000:00:14.0-%1/input0").arg(firstMinor_ + 1));

  auto a = std::make_unique<TAttachment>();
  a->owner = this;
  a->node = QString("/dev/hidraw%1").arg(minor).toLatin1();
  a->sysPath = hidtest::RawSysPath(port, hidName, minor).toLatin1();
  // The handler first: a program in another process that finds the node (a rescan of its own)
  // and opens it before the handler's socket exists would write into nothing.
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  a->handler = handler;
  g_signal_connect(handler, "handle-write", G_CALLBACK(&TUmockdevHubConnection::OnWrite), a.get());
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_.Get(), a->node.constData(), handler, &error)) {
    qFatal("umockdev: %s", error ? error->message : "cannot attach to the hub's node");
  }
  if (!testbed_.Add(hidtest::Record(port, hidName, minor, "0003:" + HubIds(8), descriptorHex_,
                                    "0100", phys, serial_))) {
    qFatal("umockdev: cannot add the hub");
  }
  a->master = umockdev_testbed_get_dev_fd(testbed_.Get(), a->node.constData());
  a->probe = ::open(a->node.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (a->master < 0 || a->probe < 0)
    qFatal("umockdev: no pty behind %s", a->node.constData());

  if (!canReadWrite) {
    // Root ignores the mode; the test lowers that right for the program's run.
    ::chmod((testbed_.RootDir() + a->node).constData(), 0);
  }
  live_ = a.get();
  attachments_.push_back(std::move(a));
  if (!std::exchange(missNotice_, false))
    umockdev_testbed_uevent(testbed_.Get(), live_->sysPath.constData(), "add");
}

void TUmockdevHubConnection::Detach() {
  if (!live_)
    return;
  TAttachment* a = live_;
  live_ = nullptr;
  a->live = false;
  {
    std::lock_guard lock(mutex_);
    pending_.clear();
  }
  pumpTimer_.stop();
  ::close(a->probe);
  a->probe = -1;
  umockdev_testbed_uevent(testbed_.Get(), a->sysPath.constData(), "remove");
  umockdev_testbed_remove_device(testbed_.Get(), a->sysPath.constData());
}

int TUmockdevHubConnection::OnWrite(void*, void* ioctlClient, void* attachment) {
  auto* a = static_cast<TAttachment*>(attachment);
  auto* client = static_cast<UMockdevIoctlClient*>(ioctlClient);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (!a->live) {
    // What the kernel says to a write on a node whose device is gone.
    ++a->owner->writesAfterRemoval_;
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  std::vector<std::uint8_t> report(arg->data, arg->data + arg->data_len);
  // This is umockdev's thread; the emulator lives on the UI thread.
  QMetaObject::invokeMethod(
      &a->owner->context_,
      [a, report = std::move(report)] {
        if (a->live)
          a->owner->toHub_(report.data(), report.size());
      },
      Qt::QueuedConnection);
  umockdev_ioctl_client_complete(client, static_cast<glong>(arg->data_len), 0);
  return TRUE;
}

void TUmockdevHubConnection::PushInputReport(const std::uint8_t* data, std::size_t size) {
  {
    std::lock_guard lock(mutex_);
    pending_.emplace_back(data, data + std::min(size, BUFFER_SIZE));
  }
  QMetaObject::invokeMethod(&context_, [this] { Pump(); });
}

// The node is a byte stream: a report written while the last one is still unread would be read
// together with it. Each goes out once the one before has been read.
void TUmockdevHubConnection::Pump() {
  TAttachment* a = live_;
  for (;;) {
    std::vector<std::uint8_t> report;
    {
      std::lock_guard lock(mutex_);
      if (!a || pending_.empty())
        return;
      int unread = 0;
      // Past the preload library, which would hand the ioctl to the handler.
      const bool busy = (a->lastWrite.isValid() && a->lastWrite.elapsed() < FLIP_MARGIN_MS) ||
                        (syscall(SYS_ioctl, a->probe, FIONREAD, &unread) == 0 && unread > 0);
      if (busy) {
        if (!pumpTimer_.isActive())
          pumpTimer_.start();
        return;
      }
      report = std::move(pending_.front());
      pending_.pop_front();
    }
    const ssize_t n = ::write(a->master, report.data(), report.size());
    if (n != static_cast<ssize_t>(report.size()))
      qWarning("umockdev hub: input report written short (%zd)", n);
    a->lastWrite.start();
  }
}
