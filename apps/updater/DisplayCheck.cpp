#include "DisplayCheck.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

TError Why(const std::string& text) {
  return TError{QString::fromStdString(text)};
}

// Connects to the X server named by DISPLAY through libxcb, the library Qt's own xcb plugin
// uses; loaded at run time so that the program does not link X libraries itself.
TResult<void> X11Reachable() {
  const std::string display = Env("DISPLAY");
  if (display.empty())
    return Why("DISPLAY is unset");
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb)
    return Why("the X11 client library libxcb.so.1 is missing");
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
  TResult<void> reached;
  if (!connect || !hasError || !disconnect) {
    reached = Why("libxcb.so.1 is unusable");
  } else {
    void* connection = connect(nullptr, nullptr);
    if (!connection || hasError(connection))
      reached = Why("the X display \"" + display + "\" cannot be reached");
    if (connection)
      disconnect(connection);
  }
  dlclose(xcb);
  return reached;
}

bool WaylandPluginInstalled() {
  QStringList folders;
  for (const QString& path : qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':')))
    if (!path.isEmpty())
      folders << path;
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
  for (const QString& folder : folders) {
    const QDir platforms(folder + QStringLiteral("/platforms"));
    if (!platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty())
      return true;
  }
  return false;
}

bool SocketAccepts(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path)
    return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

TResult<void> WaylandReachable() {
  const std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty())
    return Why("WAYLAND_DISPLAY is unset");
  if (!WaylandPluginInstalled())
    return Why("WAYLAND_DISPLAY is set but Qt's Wayland platform plugin is not installed");
  const std::string socket = name.front() == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
  if (!SocketAccepts(socket))
    return Why("the Wayland display \"" + name + "\" cannot be reached");
  return {};
}

}  // namespace

TResult<void> DisplayAvailable() {
  const bool x11 = !Env("DISPLAY").empty();
  const bool wayland = !Env("WAYLAND_DISPLAY").empty();
  std::string platforms = Env("QT_QPA_PLATFORM");
  if (platforms.empty()) {
    if (!x11 && !wayland)
      return Why("no display (DISPLAY and WAYLAND_DISPLAY are unset)");
    // Qt tries Wayland first where it is announced, then X11.
    platforms = "wayland;xcb";
  }
  QStringList reasons;
  std::size_t start = 0;
  while (start <= platforms.size()) {
    const std::size_t end = std::min(platforms.find(';', start), platforms.size());
    // "xcb:option=value" names the plugin before the colon.
    const std::string entry = platforms.substr(start, end - start);
    const std::string plugin = entry.substr(0, entry.find(':'));
    start = end + 1;
    // With only one kind of display announced, the other one's absence is no news.
    TResult<void> reached;
    if (plugin == "xcb") {
      if (!x11 && wayland)
        continue;
      reached = X11Reachable();
    } else if (plugin.rfind("wayland", 0) == 0) {
      if (!wayland && x11)
        continue;
      reached = WaylandReachable();
    }
    // Any other plugin (offscreen, vnc, eglfs...) is Qt's own affair.
    if (reached)
      return {};
    reasons << reached.Error().text;
  }
  return reasons.isEmpty() ? Why("no display") : TError{reasons.join(QStringLiteral("; "))};
}
