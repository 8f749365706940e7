#include "platform/com.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace platform {

std::optional<DispatchObject> CreateObject(const QString& progId) {
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
