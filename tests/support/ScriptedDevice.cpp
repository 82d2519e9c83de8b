#include "support/ScriptedDevice.h"

#include <QTimer>
#include <algorithm>
#include <cerrno>

#include "protocol/Frame.h"

ScriptedDevice::Bytes ScriptedDevice::Reply(std::uint8_t command, std::uint8_t status,
                                            const Bytes& data) {
  const ReplyBuffer reply = BuildReply(command, status, data);
  return {reply.begin(), reply.end()};
}

void ScriptedDevice::Queue(Bytes report, int delayMs) {
  if (!clock_.isValid())
    clock_.start();
  const int id = nextId_++;
  pending_[id] = {std::move(report), clock_.elapsed() + delayMs};
  QTimer::singleShot(delayMs, Qt::PreciseTimer, &context_, [this, id] {
    auto it = pending_.find(id);
    if (it == pending_.end())
      return;
    const Bytes report = std::move(it->second.report);
    pending_.erase(it);
    if (handler_) {
      handler_(nullptr, 0, report.data(), static_cast<std::uint16_t>(report.size()));
    }
  });
}

TResult<void> ScriptedDevice::WriteReport(const std::uint8_t* buffer, std::uint32_t count) {
  if (failWrites)
    return SystemError(QStringLiteral("scripted write"), EIO);
  Bytes frame(buffer, buffer + count);
  writes.push_back(frame);
  if (onWrite) {
    for (Answer& a : onWrite(frame))
      Queue(std::move(a.report), a.delayMs);
  }
  return {};
}

void ScriptedDevice::DiscardPendingInput() {
  ++discards_;
  // Only what has arrived by now; later reports are still on their way.
  const qint64 now = clock_.isValid() ? clock_.elapsed() : 0;
  std::erase_if(pending_, [now](const auto& entry) { return entry.second.dueMs <= now; });
}
