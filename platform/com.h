#pragma once
// Objects created by ProgID and called by name become calls on the session
// D-Bus: the ProgID is the service name and the interface, the object lives
// at "/". Nothing here waits long: a missing bus or service fails at once,
// the one question to the bus waits at most half a second, and a method call
// is sent without waiting for its answer.
#include <QString>
#include <QVariantList>

#include <optional>

namespace platform {

// Longest wait for the bus to answer whether a service is present.
inline constexpr int kBusQueryTimeoutMs = 500;
// Longest wait for the session bus to answer a new connection; Qt's own
// connection would wait 25 s on a bus that accepts and then stays silent.
inline constexpr int kBusConnectTimeoutMs = 250;

// Whether the session bus answers a connection within kBusConnectTimeoutMs
// (asked once per process). Unix socket addresses are tried; an address of
// another kind is left to Qt. When it does not answer, the start-up makes
// the bus unreachable for Qt too, so nothing in the process waits on it.
bool SessionBusAnswers();

class DispatchObject {
public:
    explicit DispatchObject(QString progId) : m_progId(std::move(progId)) {}
    // Sends the call by name; false when it could not be sent.
    bool Invoke(const QString& method, const QVariantList& arguments) const;
    const QString& progId() const { return m_progId; }

private:
    QString m_progId;
};

// The object for a ProgID when a service of that name is on the bus.
std::optional<DispatchObject> CreateObject(const QString& progId);

}  // namespace platform
