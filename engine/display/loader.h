#pragma once
// Loading of what movies ask for at run time (movies, images, text): one
// queue per Player. A request never completes in the frame that made it:
// the Player polls the queue at the start of each frame, when local files
// are read and fetched web data is handed over. Only regular local files
// and http(s) addresses are loaded; http(s) goes through the front end's
// fetch callback, so the engine never blocks on the network. A request that
// names the movie asking passes its Sandbox first (reading the target
// site's policy files when it needs them).
#include "engine/display/sandbox.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace swf {

struct FetchResult {
    bool ok = false;
    int httpStatus = 0;          // 0 for local files
    std::vector<uint8_t> bytes;
    std::string error;           // why it failed
};

// Fetches an http(s) address without blocking and calls `done` later on
// the Player's thread (never from inside the call). `method` is "GET" or
// "POST" with `body` as the form data. A download stops (and fails) once it
// passes `maxBytes`, rather than buffering the rest; redirects are not
// followed (the sandbox judged this address, not another).
using FetchDone = std::function<void(FetchResult)>;
using FetchFn = std::function<void(const std::string& url, const std::string& method,
                                   const std::vector<uint8_t>& body, size_t maxBytes, FetchDone done)>;
// Looks a host name up without blocking and calls `done` later on the
// Player's thread with its addresses in text form (none when it has none).
using ResolveDone = std::function<void(std::vector<std::string> addresses)>;
using ResolveFn = std::function<void(const std::string& host, ResolveDone done)>;
// A GET whose bytes are handed over as they arrive: `part` gets each piece
// with the size the server announced (0: unknown), then `done` runs with no
// bytes of its own. Same rules as FetchFn otherwise.
using FetchPart = std::function<void(std::vector<uint8_t> part, uint64_t total)>;
using FetchStreamFn = std::function<void(const std::string& url, size_t maxBytes, FetchPart part, FetchDone done)>;

class Loader {
public:
    using Done = std::function<void(FetchResult&)>;

    Loader();
    ~Loader();
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    void setFetch(FetchFn fetch) { m_fetch = std::move(fetch); }
    // With a resolver, a web movie's loads from named hosts wait until the
    // name is known to lead to public addresses only (see Sandbox).
    void setResolve(ResolveFn resolve) { m_resolve = std::move(resolve); }
    void setFetchStream(FetchStreamFn fetch) { m_fetchStream = std::move(fetch); }

    // `url` resolved against `base` (the movie's own path or address): a
    // local path, or an http(s) address; nullopt for any other scheme, and
    // for local files asked for by a movie from the web.
    static std::optional<std::string> resolve(const std::string& base, const std::string& url);
    // True when `resolved` (from resolve()) names a local file.
    static bool isLocal(const std::string& resolved);
    // The file: address of a local path, as movies see their _url.
    static std::string displayUrl(const std::string& resolved);

    // Queues a load of `resolved` (nullopt: refused, fails on the next
    // poll) with at most `maxBytes`; `done` runs in a later poll(). With an
    // `asker`, the sandbox decides first and the load counts against its allowance.
    uint64_t request(std::optional<std::string> resolved, size_t maxBytes, Done done,
                     std::string method = "GET", std::vector<uint8_t> body = {},
                     std::optional<Asker> asker = std::nullopt);
    // A progressive load (a NetStream's file): `part` gets the bytes as they
    // come, in later polls (a megabyte a poll for local files), with the
    // file's size when known; `done` follows the last part, its result
    // holding no bytes. Without a streaming fetch, a web file arrives as one
    // part.
    using Part = std::function<void(std::span<const uint8_t> part, uint64_t total)>;
    uint64_t requestStream(std::optional<std::string> resolved, size_t maxBytes, Part part, Done done,
                           std::optional<Asker> asker = std::nullopt);
    void cancel(uint64_t id);
    // Queues work that runs in order with the requests (unloading a level
    // after the loads asked for before it).
    uint64_t enqueue(std::function<void()> task);
    // Finishes the requests that were made before this call and whose data
    // is here; requests made by the callbacks wait for the next poll.
    void poll();
    // Runs the work deferred by the callbacks (events that follow a loaded
    // movie's first frame), the newest first; the Player calls it after the
    // frame's scripts.
    void defer(std::function<void()> work) { m_deferred.push_back(std::move(work)); }
    void runDeferred();
    // Runs `work` when the loader is cleared, before the movie's scripts go
    // (stored objects write their data).
    void atClear(std::function<void()> work) { m_atClear.push_back(std::move(work)); }
    // Runs that work now as well, keeping it for the clear (the process may
    // end before the movie is unloaded).
    void runClearWorkNow();
    // Drops every request and deferred work (the movie is being unloaded).
    void clear();
    size_t pending() const { return m_requests.size(); }
    Sandbox& sandbox() { return m_sandbox; }

private:
    struct LocalFile;
    struct Request {
        uint64_t id = 0;
        std::optional<std::string> url;
        size_t maxBytes = 0;
        std::string method;
        std::vector<uint8_t> body;
        Done done;
        std::optional<Asker> asker;
        size_t reserved = 0;          // of the sandbox's allowance
        bool fetching = false;
        bool awaitingPolicy = false;
        bool awaitingRoom = false;  // the allowance in flight is taken: starts when a load ends
        bool awaitingHost = false;  // its host name is being looked up
        std::optional<FetchResult> result;
        // Progressive loads only.
        Part part;
        std::shared_ptr<LocalFile> file;  // the open local file
        uint64_t total = 0, delivered = 0;
        std::vector<uint8_t> arrived;     // web bytes not yet handed over
    };
    uint64_t add(Request r);
    void start(Request& r);
    void startStream(Request& r);
    void readLocalPart(Request& r);
    void fail(Request& r, std::string why);
    void readPolicies(const std::vector<std::string>& files);
    void policyArrived(const std::string& file, const FetchResult& result);
    void hostResolved(const std::string& host, const std::vector<std::string>& addresses);
    Request* find(uint64_t id);

    FetchFn m_fetch;
    FetchStreamFn m_fetchStream;
    std::deque<Request> m_requests;
    std::vector<std::function<void()>> m_deferred;
    std::vector<std::function<void()>> m_atClear;
    uint64_t m_nextId = 1;
    Sandbox m_sandbox;
    std::set<std::string> m_policiesReading;
    ResolveFn m_resolve;
    // By host name: nullopt while it is looked up, else its addresses.
    std::map<std::string, std::optional<std::vector<std::string>>> m_hosts;
    // Fetch callbacks check it, so an answer arriving after the Loader died is dropped.
    std::shared_ptr<Loader*> m_self;
};

} // namespace swf
