#include "engine/display/loader.h"

#include "engine/core/limits.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace swf {

Loader::Loader() : m_self(std::make_shared<Loader*>(this)) {}

Loader::~Loader() { *m_self = nullptr; }

std::optional<std::string> Loader::resolve(const std::string& base, const std::string& url) {
    QString u = QString::fromStdString(url).trimmed();
    if (u.isEmpty()) return std::nullopt;
    QUrl target(u, QUrl::TolerantMode);
    QString scheme = target.scheme().toLower();
    const QString b = QString::fromStdString(base);
    QUrl baseUrl(b, QUrl::TolerantMode);
    const QString baseScheme = baseUrl.scheme().toLower();
    const bool webMovie = baseScheme == QLatin1String("http") || baseScheme == QLatin1String("https");
    QUrl resolved;
    if (!scheme.isEmpty()) {
        resolved = target;
    } else {
        if (!webMovie && baseScheme != QLatin1String("file"))
            baseUrl = QUrl::fromLocalFile(QFileInfo(b).absoluteFilePath());
        resolved = baseUrl.resolved(target);
    }
    QString s = resolved.scheme().toLower();
    if (s == QLatin1String("http") || s == QLatin1String("https")) return resolved.toString().toStdString();
    // A movie from the web never reads the user's files.
    if (s == QLatin1String("file") && !webMovie) {
        QString path = resolved.toLocalFile();
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    }
    return std::nullopt;
}

bool Loader::isLocal(const std::string& resolved) {
    return !resolved.starts_with("http://") && !resolved.starts_with("https://");
}

std::string Loader::displayUrl(const std::string& resolved) {
    if (!isLocal(resolved)) return resolved;
    return QUrl::fromLocalFile(QString::fromStdString(resolved)).toString().toStdString();
}

uint64_t Loader::request(std::optional<std::string> resolved, size_t maxBytes, Done done, std::string method,
                         std::vector<uint8_t> body) {
    Request r;
    r.id = m_nextId++;
    r.url = std::move(resolved);
    r.maxBytes = maxBytes;
    r.method = std::move(method);
    r.body = std::move(body);
    r.done = std::move(done);
    if (m_requests.size() >= limits::kMaxPendingLoads) {
        r.url.reset();
        r.result = FetchResult{false, 0, {}, "too many loads at once"};
    }
    m_requests.push_back(std::move(r));
    start(m_requests.back());
    return m_requests.back().id;
}

void Loader::start(Request& r) {
    if (r.result) return;
    if (!r.url) {
        r.result = FetchResult{false, 0, {}, "address refused"};
        return;
    }
    if (isLocal(*r.url)) return; // read at the next poll
    if (!m_fetch) {
        r.result = FetchResult{false, 0, {}, "no network access"};
        return;
    }
    r.fetching = true;
    uint64_t id = r.id;
    size_t maxBytes = r.maxBytes;
    std::weak_ptr<Loader*> self = m_self;
    m_fetch(*r.url, r.method, r.body, [self, id, maxBytes](FetchResult result) {
        auto alive = self.lock();
        if (!alive || !*alive) return;
        Request* req = (*alive)->find(id);
        if (!req) return;
        if (result.bytes.size() > maxBytes) result = FetchResult{false, result.httpStatus, {}, "too large"};
        req->result = std::move(result);
    });
}

Loader::Request* Loader::find(uint64_t id) {
    for (Request& r : m_requests)
        if (r.id == id) return &r;
    return nullptr;
}

void Loader::cancel(uint64_t id) {
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it)
        if (it->id == id) {
            m_requests.erase(it);
            return;
        }
}

namespace {
FetchResult readLocal(const std::string& path, size_t maxBytes) {
    QFile f(QString::fromStdString(path));
    if (!QFileInfo(f).isFile() || !f.open(QIODevice::ReadOnly)) return FetchResult{false, 0, {}, "cannot open " + path};
    if (size_t(f.size()) > maxBytes) return FetchResult{false, 0, {}, path + " is too large"};
    QByteArray data = f.read(qint64(maxBytes) + 1);
    if (size_t(data.size()) > maxBytes) return FetchResult{false, 0, {}, path + " is too large"};
    return FetchResult{true, 0, std::vector<uint8_t>(data.begin(), data.end()), {}};
}
} // namespace

void Loader::poll() {
    // Only requests present now: those made by the callbacks wait a frame.
    std::vector<uint64_t> ids;
    for (const Request& r : m_requests) ids.push_back(r.id);
    for (uint64_t id : ids) {
        Request* r = find(id);
        if (!r) continue; // cancelled by an earlier callback
        if (!r->result && r->url && isLocal(*r->url)) r->result = readLocal(*r->url, r->maxBytes);
        if (!r->result) continue; // still on the network
        FetchResult result = std::move(*r->result);
        Done done = std::move(r->done);
        cancel(id);
        if (done) done(result);
    }
}

void Loader::runDeferred() {
    // Newest first, as Flash reaches the movies it added last first; work
    // deferred while this runs waits for the next frame.
    std::vector<std::function<void()>> work;
    work.swap(m_deferred);
    for (auto it = work.rbegin(); it != work.rend(); ++it) (*it)();
}

uint64_t Loader::enqueue(std::function<void()> task) {
    Request r;
    r.id = m_nextId++;
    r.result = FetchResult{true, 0, {}, {}};
    r.done = [task = std::move(task)](FetchResult&) { task(); };
    m_requests.push_back(std::move(r));
    return m_requests.back().id;
}

void Loader::clear() {
    // The work at clearing goes first; anything it asks for belongs to the
    // movie going away and is dropped with the rest, so none of it can run
    // once that movie's scripts are gone.
    std::vector<std::function<void()>> work;
    work.swap(m_atClear);
    for (auto& w : work) w();
    m_atClear.clear();
    m_requests.clear();
    m_deferred.clear();
}

} // namespace swf
