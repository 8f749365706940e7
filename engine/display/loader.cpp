#include "engine/display/loader.h"

#include "engine/core/limits.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace swf {

namespace {
// Bytes of a progressive local file read in one poll (one frame), so a big
// file never stalls a frame: 32 MB/s at 30 frames a second.
constexpr size_t kStreamBytesPerPoll = 1u << 20;
} // namespace

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
                         std::vector<uint8_t> body, std::optional<Asker> asker) {
    Request r;
    r.asker = std::move(asker);
    r.url = std::move(resolved);
    r.maxBytes = maxBytes;
    r.method = std::move(method);
    r.body = std::move(body);
    r.done = std::move(done);
    return add(std::move(r));
}

uint64_t Loader::requestStream(std::optional<std::string> resolved, size_t maxBytes, Part part, Done done,
                               std::optional<Asker> asker) {
    Request r;
    r.asker = std::move(asker);
    r.url = std::move(resolved);
    r.maxBytes = maxBytes;
    r.method = "GET";
    r.done = std::move(done);
    r.part = std::move(part);
    return add(std::move(r));
}

uint64_t Loader::add(Request r) {
    r.id = m_nextId++;
    if (m_requests.size() >= limits::kMaxPendingLoads) {
        r.url.reset();
        r.result = FetchResult{false, 0, {}, "too many loads at once"};
    }
    m_requests.push_back(std::move(r));
    start(m_requests.back());
    return m_requests.back().id;
}

void Loader::fail(Request& r, std::string why) {
    m_sandbox.release(r.reserved, 0);
    r.reserved = 0;
    r.result = FetchResult{false, 0, {}, std::move(why)};
}

void Loader::start(Request& r) {
    if (r.result) return;
    if (!r.url) return fail(r, "address refused");
    if (r.asker) {
        if (auto why = Sandbox::refusal(*r.asker, *r.url)) return fail(r, *why);
        if (m_resolve) {
            if (const std::string host = Sandbox::hostToCheck(*r.asker, *r.url); !host.empty()) {
                if (m_hosts.size() >= limits::kMaxPendingLoads)
                    std::erase_if(m_hosts, [](const auto& entry) { return entry.second.has_value(); });
                auto [known, added] = m_hosts.try_emplace(host);
                r.awaitingHost = !known->second;
                if (added) {
                    std::weak_ptr<Loader*> self = m_self;
                    m_resolve(host, [self, host](std::vector<std::string> addresses) {
                        auto alive = self.lock();
                        if (alive && *alive) (*alive)->hostResolved(host, addresses);
                    });
                }
                if (r.awaitingHost) return;
                if (auto why = Sandbox::addressRefusal(*r.asker, *known->second)) return fail(r, *why);
            }
        }
        switch (m_sandbox.policyCheck(*r.asker, *r.url)) {
        case Sandbox::Policy::Unknown:
            r.awaitingPolicy = true;
            return readPolicies(m_sandbox.policyFilesToRead(*r.url));
        case Sandbox::Policy::Refuses: return fail(r, "no cross-domain policy of " + *r.url + " lets this movie in");
        case Sandbox::Policy::NotNeeded: case Sandbox::Policy::Allows: break;
        }
        if (!r.reserved) {
            r.reserved = m_sandbox.reserve(r.maxBytes);
            // Room taken by loads under way comes back when they end: wait for it.
            r.awaitingRoom = !r.reserved && m_sandbox.loadsUnderWay();
            if (r.awaitingRoom) return;
            if (!r.reserved) return fail(r, "the movie loaded all it may");
            r.maxBytes = r.reserved;
        }
    }
    if (isLocal(*r.url)) return; // read at the next poll
    if (r.part && m_fetchStream) return startStream(r);
    if (!m_fetch) return fail(r, "no network access");
    r.fetching = true;
    uint64_t id = r.id;
    size_t maxBytes = r.maxBytes;
    std::weak_ptr<Loader*> self = m_self;
    m_fetch(*r.url, r.method, r.body, maxBytes, [self, id, maxBytes](FetchResult result) {
        auto alive = self.lock();
        if (!alive || !*alive) return;
        Request* req = (*alive)->find(id);
        if (!req) return;
        if (result.bytes.size() > maxBytes) result = FetchResult{false, result.httpStatus, {}, "too large"};
        req->result = std::move(result);
    });
}

void Loader::startStream(Request& r) {
    r.fetching = true;
    const uint64_t id = r.id;
    const size_t maxBytes = r.maxBytes;
    std::weak_ptr<Loader*> self = m_self;
    auto request = [self, id]() -> Request* {
        auto alive = self.lock();
        return alive && *alive ? (*alive)->find(id) : nullptr;
    };
    m_fetchStream(
        *r.url, maxBytes,
        [request, maxBytes](std::vector<uint8_t> part, uint64_t total) {
            Request* req = request();
            if (!req || req->result) return;
            if (req->delivered + req->arrived.size() + part.size() > maxBytes) {
                req->result = FetchResult{false, 0, {}, "too large"};
                return;
            }
            req->total = total;
            req->arrived.insert(req->arrived.end(), part.begin(), part.end());
        },
        [request](FetchResult result) {
            Request* req = request();
            if (!req || req->result) return;
            result.bytes.clear();
            req->result = std::move(result);
        });
}

// Policy files are read once each, through the same fetch as the movie's own
// loads; the requests waiting for them start again when the last arrives.
void Loader::readPolicies(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (!m_policiesReading.insert(file).second) continue;
        if (!m_fetch) {
            policyArrived(file, FetchResult{false, 0, {}, "no network access"});
            continue;
        }
        std::weak_ptr<Loader*> self = m_self;
        m_fetch(file, "GET", {}, limits::kMaxPolicyFileBytes, [self, file](FetchResult result) {
            auto alive = self.lock();
            if (alive && *alive) (*alive)->policyArrived(file, result);
        });
    }
}

void Loader::policyArrived(const std::string& file, const FetchResult& result) {
    m_sandbox.policyRead(file, result.ok && result.httpStatus < 300, result.bytes);
    for (Request& r : m_requests)
        if (r.awaitingPolicy && m_sandbox.policyCheck(*r.asker, *r.url) != Sandbox::Policy::Unknown) {
            r.awaitingPolicy = false;
            start(r);
        }
}

void Loader::hostResolved(const std::string& host, const std::vector<std::string>& addresses) {
    auto it = m_hosts.find(host);
    if (it == m_hosts.end()) return; // cleared meanwhile
    it->second = addresses;
    for (Request& r : m_requests)
        if (r.awaitingHost) start(r); // those waiting for other names wait on
}

Loader::Request* Loader::find(uint64_t id) {
    for (Request& r : m_requests)
        if (r.id == id) return &r;
    return nullptr;
}

void Loader::cancel(uint64_t id) {
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it)
        if (it->id == id) {
            m_sandbox.release(it->reserved, 0);
            m_requests.erase(it);
            return;
        }
}

namespace {
// An open regular local file. A device, pipe or folder (even behind a link)
// is refused before a byte is read, and the file is checked once it is
// open, so it cannot be swapped for one in between.
struct RegularFile {
    int fd = -1;
    uint64_t size = 0;
    RegularFile() = default;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile() {
        if (fd >= 0) ::close(fd);
    }
    // Why it cannot be read; nullopt when it is open.
    std::optional<std::string> open(const std::string& path, size_t maxBytes) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return "cannot open " + path;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return path + " is not a regular file";
        if (uint64_t(st.st_size) > maxBytes) return path + " is too large";
        size = uint64_t(st.st_size);
        return std::nullopt;
    }
    // Up to `count` bytes; fewer only at the end of the file.
    size_t read(uint8_t* into, size_t count) {
        size_t got = 0;
        while (got < count) {
            const ssize_t n = ::read(fd, into + got, count - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += size_t(n);
        }
        return got;
    }
};

FetchResult readLocal(const std::string& path, size_t maxBytes) {
    RegularFile file;
    FetchResult r;
    if (auto why = file.open(path, maxBytes)) {
        r.error = *why;
        return r;
    }
    r.bytes.resize(size_t(file.size));
    r.bytes.resize(file.read(r.bytes.data(), r.bytes.size())); // a file that shrank meanwhile gives what it had
    r.ok = true;
    return r;
}
} // namespace

// The open local file of a progressive load.
struct Loader::LocalFile : RegularFile {};

// The next piece of a progressive local file into `arrived`, opened at the
// first call; the result is set once it ended.
void Loader::readLocalPart(Request& r) {
    if (!r.file) {
        r.file = std::make_shared<LocalFile>();
        if (auto why = r.file->open(*r.url, r.maxBytes)) return fail(r, *why);
        r.total = r.file->size;
    }
    // Never past the size it had when opened: a growing file cannot pass the cap.
    const size_t want = size_t(std::min<uint64_t>(kStreamBytesPerPoll, r.total - r.delivered));
    r.arrived.resize(want);
    const size_t got = r.file->read(r.arrived.data(), want);
    r.arrived.resize(got);
    // The end, or a file that shrank meanwhile: it gives what it had.
    if (got < want || r.delivered + got >= r.total) {
        r.file.reset();
        r.result = FetchResult{true, 0, {}, {}};
    }
}

void Loader::poll() {
    // Only requests present now: those made by the callbacks wait a frame.
    std::vector<uint64_t> ids;
    for (const Request& r : m_requests) ids.push_back(r.id);
    for (uint64_t id : ids) {
        Request* r = find(id);
        if (!r) continue; // cancelled by an earlier callback
        if (r->awaitingRoom) start(*r);
        if (r->awaitingRoom) continue;
        if (r->part) {
            if (!r->result && r->url && isLocal(*r->url)) readLocalPart(*r);
            // A whole web file from the plain fetch is its one part.
            if (r->result && !r->result->bytes.empty()) {
                r->total = r->result->bytes.size();
                r->arrived = std::move(r->result->bytes);
                r->result->bytes.clear();
            }
            if (!r->arrived.empty()) {
                const std::vector<uint8_t> part = std::move(r->arrived);
                r->arrived.clear();
                r->delivered += part.size();
                const Part deliver = r->part;
                deliver(part, r->total);
                r = find(id);
                if (!r) continue;
            }
        } else if (!r->result && r->url && isLocal(*r->url)) {
            r->result = readLocal(*r->url, r->maxBytes);
        }
        if (!r->result) continue; // still on the network
        FetchResult result = std::move(*r->result);
        Done done = std::move(r->done);
        m_sandbox.release(r->reserved, r->part ? r->delivered : result.bytes.size());
        r->reserved = 0;
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

void Loader::runClearWorkNow() {
    // A copy: the work may register more.
    std::vector<std::function<void()>> work = m_atClear;
    for (auto& w : work) w();
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
    m_policiesReading.clear();
    m_hosts.clear();
    m_sandbox.reset();
    m_deferred.clear();
}

} // namespace swf
