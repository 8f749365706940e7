#include "platform/com.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QUrl>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// The socket of one bus address ("unix:path=..." or "unix:abstract=...",
// values %-escaped); nullopt for any other kind.
std::optional<std::pair<sockaddr_un, socklen_t>> unixSocketOf(const QString& address) {
    if (!address.startsWith(QLatin1String("unix:")))
        return std::nullopt;
    for (const QString& pair : address.mid(5).split(u',')) {
        const qsizetype eq = pair.indexOf(u'=');
        const QString key = pair.left(eq);
        if (eq < 0 || (key != QLatin1String("path") && key != QLatin1String("abstract")))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(pair.mid(eq + 1).toUtf8());
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        const bool abstract = key == QLatin1String("abstract");
        const size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
        if (path.isEmpty() || size_t(path.size()) + offset >= sizeof sa.sun_path)
            return std::nullopt;
        std::memcpy(sa.sun_path + offset, path.constData(), size_t(path.size()));
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + size_t(path.size()) + (abstract ? 0 : 1));
        return std::make_pair(sa, length);
    }
    return std::nullopt;
}

// Opens the bus's authentication and waits for its first answer line.
bool answersWithin(const sockaddr_un& address, socklen_t length, QDeadlineTimer deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool answered = false;
    pollfd p{fd, POLLOUT, 0};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ||
        (errno == EINPROGRESS && ::poll(&p, 1, int(deadline.remainingTime())) == 1 && !(p.revents & (POLLERR | POLLHUP)))) {
        QByteArray hello("\0AUTH EXTERNAL ", 15);
        hello += QByteArray::number(::getuid()).toHex() + "\r\n";
        if (::send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL) == hello.size()) {
            QByteArray reply;
            char buffer[256];
            while (!deadline.hasExpired() && !reply.contains('\n')) {
                p = pollfd{fd, POLLIN, 0};
                if (::poll(&p, 1, int(deadline.remainingTime())) != 1)
                    break;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                reply.append(buffer, n);
            }
            answered = reply.contains('\n');
        }
    }
    ::close(fd);
    return answered;
}

bool probeSessionBus() {
    const QString addresses = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (addresses.isEmpty())
        return true;  // Qt's own fallbacks fail at once when there is nothing
    const QDeadlineTimer deadline(kBusConnectTimeoutMs);
    for (const QString& address : addresses.split(u';', Qt::SkipEmptyParts)) {
        const auto socket = unixSocketOf(address);
        if (!socket)
            return true;  // another kind of address: Qt tries it
        if (answersWithin(socket->first, socket->second, deadline))
            return true;
    }
    return false;
}

}  // namespace

bool SessionBusAnswers() {
    static const bool answers = probeSessionBus();
    return answers;
}

std::optional<DispatchObject> CreateObject(const QString& progId) {
    if (!SessionBusAnswers())
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage query = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("/org/freedesktop/DBus"),
                                                        QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("NameHasOwner"));
    query << progId;
    const QDBusMessage reply = bus.call(query, QDBus::Block, kBusQueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        !reply.arguments().constFirst().toBool())
        return std::nullopt;
    return DispatchObject(progId);
}

bool DispatchObject::Invoke(const QString& method, const QVariantList& arguments) const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(m_progId, QStringLiteral("/"), m_progId, method);
    call.setAutoStartService(false);
    call.setArguments(arguments);
    return bus.send(call);
}

}  // namespace platform
