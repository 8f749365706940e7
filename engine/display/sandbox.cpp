#include "engine/display/sandbox.h"

#include "engine/core/limits.h"
#include "engine/swf/movie.h"

#include <QUrl>
#include <QUrlQuery>
#include <QXmlStreamReader>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>

namespace swf {
namespace {

constexpr uint32_t kUseNetworkFlag = 0x01; // FileAttributes

bool isWeb(const QUrl& u) {
    const QString s = u.scheme().toLower();
    return s == QLatin1String("http") || s == QLatin1String("https");
}

QUrl urlOf(const std::string& s) { return QUrl(QString::fromStdString(s), QUrl::TolerantMode); }

// scheme://host:port, the unit a policy speaks for.
std::string siteOf(const QUrl& u) {
    const int defaultPort = u.scheme().toLower() == QLatin1String("https") ? 443 : 80;
    return (u.scheme().toLower() + QStringLiteral("://") + u.host().toLower() + u':' +
            QString::number(u.port(defaultPort)))
        .toStdString();
}

AddressKind ipv4Kind(uint32_t a) {
    auto in = [a](uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
    if (in(0x7F000000, 8)) return AddressKind::Loopback;
    if (in(0xA9FE0000, 16)) return AddressKind::LinkLocal;
    if (in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10) || in(0, 8) ||
        in(0xE0000000, 3)) // multicast, reserved and broadcast too
        return AddressKind::Private;
    return AddressKind::Public;
}

std::string rootPolicyOf(const QUrl& u) {
    QUrl root = u.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    root.setPath(QStringLiteral("/crossdomain.xml"));
    return root.toString().toStdString();
}

// A domain pattern of a policy ("*", "*.example.com", "example.com") against a host.
bool domainMatches(const QString& pattern, const QString& host) {
    const QString p = pattern.trimmed().toLower();
    if (p == QLatin1String("*")) return true;
    if (p.startsWith(QLatin1String("*."))) return host == p.mid(2) || host.endsWith(p.mid(1));
    return host == p;
}

} // namespace

Asker Asker::of(const Movie& movie) { return Asker{movie.url, (movie.fileAttributes & kUseNetworkFlag) != 0}; }

SandboxType Sandbox::typeOf(const Asker& asker) {
    if (isWeb(urlOf(asker.url))) return SandboxType::Remote;
    return asker.useNetwork ? SandboxType::LocalWithNetwork : SandboxType::LocalWithFile;
}

const char* Sandbox::typeName(SandboxType type) {
    switch (type) {
    case SandboxType::LocalWithFile: return "localWithFile";
    case SandboxType::LocalWithNetwork: return "localWithNetwork";
    case SandboxType::Remote: return "remote";
    }
    return "localWithFile";
}

namespace {
// The kind of a literal IPv4 or IPv6 address (with or without brackets or a
// final dot); nullopt for a name.
std::optional<AddressKind> literalKind(QString host) {
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    if (host.endsWith(u'.')) host.chop(1);
    const QByteArray text = host.toLatin1();
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
        const uint8_t* b = v6.s6_addr;
        const bool v4Mapped = std::all_of(b, b + 10, [](uint8_t x) { return x == 0; }) && b[10] == 0xFF && b[11] == 0xFF;
        if (!v4Mapped) {
            const bool zeroHead = std::all_of(b, b + 15, [](uint8_t x) { return x == 0; });
            if (zeroHead && b[15] == 1) return AddressKind::Loopback;
            if (zeroHead && b[15] == 0) return AddressKind::Private;
            if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) return AddressKind::LinkLocal;
            if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0xC0) || b[0] == 0xFF)
                return AddressKind::Private;
            return AddressKind::Public;
        }
        return ipv4Kind(uint32_t(b[12]) << 24 | uint32_t(b[13]) << 16 | uint32_t(b[14]) << 8 | b[15]);
    }
    // inet_aton also takes the short and numeric forms (127.1, 0x7f000001).
    in_addr v4{};
    if (inet_aton(text.constData(), &v4) == 1) return ipv4Kind(ntohl(v4.s_addr));
    return std::nullopt;
}
} // namespace

AddressKind Sandbox::addressKind(const std::string& hostName) {
    QString host = QString::fromStdString(hostName).toLower();
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    if (host.endsWith(u'.')) host.chop(1);
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost"))) return AddressKind::Loopback;
    return literalKind(host).value_or(AddressKind::Public);
}

namespace {
// A movie from a public address: the one kind kept from private ones.
bool fromPublicSite(const Asker& asker) {
    return Sandbox::typeOf(asker) == SandboxType::Remote &&
           Sandbox::addressKind(urlOf(asker.url).host().toStdString()) == AddressKind::Public;
}

} // namespace

std::optional<std::string> Sandbox::refusal(const Asker& asker, const std::string& resolved) {
    const QUrl target = urlOf(resolved);
    const bool webTarget = isWeb(target);
    switch (typeOf(asker)) {
    case SandboxType::LocalWithFile:
        if (webTarget) return "a local movie without network access loads no web address";
        return std::nullopt;
    case SandboxType::LocalWithNetwork:
        if (!webTarget) return "a local movie with network access reads no local files";
        return std::nullopt;
    case SandboxType::Remote:
        break;
    }
    if (!webTarget) return "a web movie reads no local files";
    if (addressKind(target.host().toStdString()) != AddressKind::Public && fromPublicSite(asker))
        return "a movie from the internet reaches no local or private address";
    return std::nullopt;
}

std::string Sandbox::hostToCheck(const Asker& asker, const std::string& resolved) {
    const QUrl target = urlOf(resolved);
    if (!fromPublicSite(asker) || !isWeb(target)) return {};
    const QString host = target.host().toLower();
    return host.isEmpty() || literalKind(host) ? std::string() : host.toStdString();
}

std::optional<std::string> Sandbox::addressRefusal(const Asker& asker, const std::vector<std::string>& addresses) {
    if (!fromPublicSite(asker)) return std::nullopt;
    if (addresses.empty()) return "the host name has no address";
    for (const std::string& address : addresses)
        if (addressKind(address) != AddressKind::Public)
            return "the host name leads to a local or private address (" + address + ")";
    return std::nullopt;
}

Sandbox::Policy Sandbox::policyCheck(const Asker& asker, const std::string& resolved) const {
    if (typeOf(asker) == SandboxType::LocalWithFile) return Policy::NotNeeded;
    const QUrl target = urlOf(resolved);
    const QUrl origin = urlOf(asker.url);
    if (typeOf(asker) == SandboxType::Remote && siteOf(origin) == siteOf(target)) return Policy::NotNeeded;
    // A local movie has no domain: only a policy for every domain lets it in.
    const QString host = typeOf(asker) == SandboxType::Remote ? origin.host().toLower() : QString();
    const bool secureSite = target.scheme().toLower() == QLatin1String("https");
    const bool secureMovie = origin.scheme().toLower() == QLatin1String("https");
    const QString path = target.path().isEmpty() ? QStringLiteral("/") : target.path();
    bool unread = false;
    for (const std::string& file : policyFilesToRead(resolved)) {
        auto it = m_policies.find(file);
        if (it == m_policies.end() || !it->second) {
            unread = true;
            continue;
        }
        const PolicyFile& policy = *it->second;
        if (!path.startsWith(QString::fromStdString(policy.folder))) continue;
        for (size_t i = 0; i < policy.domains.size(); ++i) {
            const QString domain = QString::fromStdString(policy.domains[i]);
            const bool matches = host.isEmpty() ? domain.trimmed() == QLatin1String("*") : domainMatches(domain, host);
            if (matches && !(secureSite && policy.secureOnly[i] && !secureMovie)) return Policy::Allows;
        }
    }
    return unread ? Policy::Unknown : Policy::Refuses;
}

std::vector<std::string> Sandbox::policyFilesToRead(const std::string& resolved) const {
    const QUrl target = urlOf(resolved);
    std::vector<std::string> files{rootPolicyOf(target)};
    const std::string site = siteOf(target);
    for (const auto& [file, policy] : m_policies)
        if (file != files.front() && siteOf(urlOf(file)) == site) files.push_back(file);
    return files;
}

void Sandbox::policyRead(const std::string& policyUrl, bool ok, std::span<const uint8_t> bytes) {
    PolicyFile policy;
    const QString path = urlOf(policyUrl).path();
    policy.folder = path.left(path.lastIndexOf(u'/') + 1).toStdString();
    if (policy.folder.empty()) policy.folder = "/";
    if (ok && bytes.size() <= limits::kMaxPolicyFileBytes) {
        QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
        bool inPolicy = false;
        while (!xml.atEnd() && policy.domains.size() < limits::kMaxPolicyDomains) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("cross-domain-policy")) inPolicy = true;
            if (!inPolicy || xml.name() != QLatin1String("allow-access-from")) continue;
            const QString domain = xml.attributes().value(QLatin1String("domain")).toString();
            if (domain.isEmpty()) continue;
            policy.domains.push_back(domain.toStdString());
            policy.secureOnly.push_back(xml.attributes().value(QLatin1String("secure")).toString().toLower() !=
                                        QLatin1String("false"));
        }
        if (xml.hasError()) policy = PolicyFile{policy.folder, {}, {}};
    }
    m_policies[policyUrl] = std::move(policy);
}

void Sandbox::addPolicyFile(const std::string& resolved) {
    if (!isWeb(urlOf(resolved)) || m_policies.size() >= limits::kMaxPolicyFiles) return;
    m_policies.try_emplace(resolved);
}

size_t Sandbox::reserve(size_t wanted) {
    const size_t inFlightLeft = limits::kMaxLoadBytesInFlight - std::min(m_inFlight, limits::kMaxLoadBytesInFlight);
    const size_t totalLeft =
        limits::kMaxLoadBytesPerMovie - std::min(m_loaded + m_inFlight, limits::kMaxLoadBytesPerMovie);
    // A load with others under way takes at most half of what is left, so
    // loads started together all get room (each reserves its cap, not what it
    // will really take); a load alone may take all of it.
    const size_t share = m_inFlight ? std::min(inFlightLeft, totalLeft) / 2 : std::min(inFlightLeft, totalLeft);
    const size_t granted = std::min(wanted, share);
    m_inFlight += granted;
    return granted;
}

void Sandbox::release(size_t reserved, size_t used) {
    m_inFlight -= std::min(reserved, m_inFlight);
    m_loaded += std::min(used, reserved);
}

void Sandbox::userAction() { m_pagesLeft = limits::kMaxPagesPerUserAction; }

std::optional<std::string> Sandbox::pageToOpen(const Asker& asker, const std::string& url, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    QUrl page = urlOf(url);
    const QString scheme = page.scheme().toLower();
    if (scheme == QLatin1String("mailto")) {
        // Mail programs take attachment names from the address: a movie
        // could mail the user's files away.
        QUrlQuery query(page);
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            if (key.trimmed().toLower().startsWith(QLatin1String("attach"))) query.removeAllQueryItems(key);
        page.setQuery(query.isEmpty() ? QString() : query.query(QUrl::FullyEncoded));
    } else if (!isWeb(page)) {
        return refuse("only web pages and mail addresses open");
    } else if (typeOf(asker) == SandboxType::LocalWithFile) {
        return refuse("a local movie without network access opens no web page");
    } else if (typeOf(asker) == SandboxType::Remote &&
               addressKind(page.host().toStdString()) != AddressKind::Public &&
               addressKind(urlOf(asker.url).host().toStdString()) == AddressKind::Public) {
        return refuse("a movie from the internet opens no local or private address");
    }
    if (m_pagesLeft <= 0) return refuse("pages open only after a click or key press, a few at a time");
    --m_pagesLeft;
    return page.toString(QUrl::FullyEncoded).toStdString();
}

void Sandbox::reset() {
    m_policies.clear();
    m_inFlight = 0;
    m_loaded = 0;
    // A movie may open a few pages as it starts, as if it had been clicked.
    m_pagesLeft = limits::kMaxPagesPerUserAction;
}

} // namespace swf
