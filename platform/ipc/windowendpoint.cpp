#include "windowendpoint.h"

#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <exception>

#include "ipcfolder.h"
#include "ipcframe.h"
#include "trace.h"
#include "windowlink.h"

namespace vant::ipc {
namespace {

// A sender that connects and stays silent must not keep a slot for ever.
constexpr int kIdleMs = 10000;
constexpr int kMaxConnections = 32;

std::atomic<unsigned> g_serial{0};

// The bytes of a frame received so far; a child of its connection, so it goes with it.
struct PendingFrame : QObject {
  using QObject::QObject;
  QByteArray bytes;
};

}  // namespace

struct WindowEndpoint::Impl {
  WindowEndpoint* owner;
  std::string title;
  std::filesystem::path socket;
  std::unique_ptr<QLocalServer> server;
  int connections = 0;

  char Handle(MessageKind kind, std::string_view bytes) {
    try {
      switch (kind) {
        case MessageKind::kCopyData:
          if (!IsValidPathPayload(bytes) || !owner->OnCopyData) return kAckRefused;
          owner->OnCopyData(std::string(bytes));
          return kAckHandled;
        case MessageKind::kActivate:
          if (owner->OnActivate) owner->OnActivate();
          return kAckHandled;
      }
    } catch (const std::exception& e) {
      Trace(std::string("window message handler failed: ") + e.what());
    }
    return kAckRefused;
  }

  void Close() {
    if (!socket.empty()) UnregisterLocalReceiver(socket);
    if (server) {
      server->close();  // removes the socket file
      server.reset();
    }
    socket.clear();
  }

  bool Listen() {
    std::filesystem::path folder;
    try {
      folder = RuntimeFolder();
    } catch (const EIpcError& e) {
      Trace(e.what());
      return false;
    }
    // The serial is zero-padded so that, between sockets made within one tick of the file
    // system's clock, the name still tells the newer.
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08u", ++g_serial);
    auto path = folder / (TitleKey(title) + "." + std::to_string(getpid()) + "." + serial);
    auto s = std::make_unique<QLocalServer>();
    s->setSocketOptions(QLocalServer::UserAccessOption);
    QString name = QString::fromLocal8Bit(path.c_str());
    QLocalServer::removeServer(name);  // a leftover of an earlier process with our pid
    if (!s->listen(name)) {
      Trace("cannot listen on " + path.string() + ": " + s->errorString().toStdString());
      return false;
    }
    QObject::connect(s.get(), &QLocalServer::newConnection, [this] { Accept(); });
    server = std::move(s);
    socket = path;
    RegisterLocalReceiver(socket,
                          [this](MessageKind k, std::string_view b) { return Handle(k, b); });
    return true;
  }

  void Accept() {
    while (QLocalSocket* conn = server->nextPendingConnection()) {
      if (connections >= kMaxConnections) {
        conn->abort();
        conn->deleteLater();
        continue;
      }
      ++connections;
      auto* pending = new PendingFrame(conn);
      auto* idle = new QTimer(conn);
      idle->setSingleShot(true);
      QObject::connect(idle, &QTimer::timeout, conn, [conn] { conn->abort(); });
      idle->start(kIdleMs);
      // Counted until the connection object is gone, however it ends.
      QObject::connect(conn, &QObject::destroyed, [this] { --connections; });
      QObject::connect(conn, &QLocalSocket::disconnected, conn, &QObject::deleteLater);
      QObject::connect(conn, &QLocalSocket::readyRead, conn,
                       [this, conn, pending] { Read(conn, pending); });
      if (conn->bytesAvailable() > 0) Read(conn, pending);
    }
  }

  // One frame per connection: wait until it is whole, handle it, answer and hang up.
  void Read(QLocalSocket* conn, PendingFrame* pending) {
    pending->bytes += conn->readAll();
    // A copy, so the handler's view stays valid whatever happens to the connection meanwhile.
    const QByteArray frame = pending->bytes;
    std::string_view data(frame.constData(), static_cast<size_t>(frame.size()));
    if (data.size() < kFrameHeaderSize) return;
    auto header = DecodeFrameHeader(data);
    if (header && data.size() < kFrameHeaderSize + header->length) return;
    // Whole (or broken): no further bytes are read from this sender.
    QObject::disconnect(conn, &QLocalSocket::readyRead, nullptr, nullptr);
    char ack = kAckRefused;
    // The handler may run a nested event loop (a message box), in which the sender can give up
    // and the connection go away.
    QPointer<QLocalSocket> alive(conn);
    if (header && data.size() == kFrameHeaderSize + header->length) {
      ack = Handle(static_cast<MessageKind>(header->kind), data.substr(kFrameHeaderSize));
    }
    if (!alive) return;
    conn->write(&ack, 1);
    conn->flush();
    conn->disconnectFromServer();
  }
};

WindowEndpoint::WindowEndpoint(std::string title) : impl_(std::make_unique<Impl>()) {
  impl_->owner = this;
  SetTitle(std::move(title));
}

WindowEndpoint::~WindowEndpoint() { impl_->Close(); }

bool WindowEndpoint::SetTitle(std::string title) {
  impl_->Close();
  impl_->title = std::move(title);
  return impl_->title.empty() || impl_->Listen();
}

const std::string& WindowEndpoint::GetTitle() const { return impl_->title; }

std::filesystem::path WindowEndpoint::GetSocket() const { return impl_->socket; }

}  // namespace vant::ipc
