#pragma once
// What a movie may reach, as the Flash player's sandbox decides it, always
// for the movie that asks (a loaded movie has its own), never the root:
// - a local movie reads local files, or (with the UseNetwork flag of its
//   FileAttributes) talks to the network, never both;
// - a web movie reads its own site, and another site only when that site's
//   cross-domain policy (its /crossdomain.xml, or one named by
//   System.security.loadPolicyFile) lets it; never a loopback, link-local
//   or private address unless it came from one itself;
// - the bytes under way at once and in all are capped per movie;
// - pages open a few at a time, only after the user did something, and
//   mail addresses lose their attachments.
// One per Player (its Loader holds it); both script engines ask it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace swf {

struct Movie;

enum class SandboxType { LocalWithFile, LocalWithNetwork, Remote };

// The movie that asks: where it came from and whether it asked for the network.
struct Asker {
    std::string url;         // its path or http(s) address
    bool useNetwork = false; // FileAttributes UseNetwork
    static Asker of(const Movie& movie);
};

// Kinds of host address: movies from the internet never reach the others.
enum class AddressKind { Public, Private, Loopback, LinkLocal };

class Sandbox {
public:
    static SandboxType typeOf(const Asker& asker);
    // As System.security.sandboxType names it.
    static const char* typeName(SandboxType type);
    // Literal IPv4 and IPv6 addresses, "localhost" and names under it; other
    // names count as public.
    static AddressKind addressKind(const std::string& host);

    // Why `asker` may not load `resolved` (a local path or an http(s)
    // address from Loader::resolve); nullopt when it may, perhaps subject to
    // the target site's policy (policyCheck).
    static std::optional<std::string> refusal(const Asker& asker, const std::string& resolved);
    // A name is checked by what it resolves to: the host name of `resolved`
    // to look up before `asker` may load it ("" when nothing needs checking),
    // and why the addresses it gave are refused (nullopt when all are public).
    static std::string hostToCheck(const Asker& asker, const std::string& resolved);
    static std::optional<std::string> addressRefusal(const Asker& asker, const std::vector<std::string>& addresses);

    // Cross-domain policies. Unknown: a policy file still has to be read
    // (policyFilesToRead names them).
    enum class Policy { NotNeeded, Unknown, Allows, Refuses };
    Policy policyCheck(const Asker& asker, const std::string& resolved) const;
    std::vector<std::string> policyFilesToRead(const std::string& resolved) const;
    // A policy file's answer (not ok: missing or unreadable, which allows nothing).
    void policyRead(const std::string& policyUrl, bool ok, std::span<const uint8_t> bytes);
    // System.security.loadPolicyFile: one more policy file for its site,
    // covering the addresses in its folder and below.
    void addPolicyFile(const std::string& resolved);

    // Load allowance: a load may take at most what is left of the bytes
    // allowed under way at once and in all (half of it while other loads are
    // under way); 0 when nothing is left.
    size_t reserve(size_t wanted);
    // A load ended: its reservation goes, the bytes it took count.
    void release(size_t reserved, size_t used);
    bool loadsUnderWay() const { return m_inFlight > 0; }

    // The user pressed a button or key: pages may open again.
    void userAction();
    // The address to open for a page the movie asks for (mail addresses
    // without attachments); nullopt with `why` set when it is refused.
    std::optional<std::string> pageToOpen(const Asker& asker, const std::string& url, std::string* why = nullptr);

    // A new movie: everything starts afresh.
    void reset();

private:
    struct PolicyFile {
        std::string folder;                // the path prefix it covers ("/" at the root)
        std::vector<std::string> domains;  // allow-access-from domain patterns
        std::vector<bool> secureOnly;      // per domain: https movies only (for https sites)
    };
    // By policy file address: nullopt while unread, an empty file when missing.
    std::map<std::string, std::optional<PolicyFile>> m_policies;
    size_t m_inFlight = 0;
    size_t m_loaded = 0;
    int m_pagesLeft;

public:
    Sandbox() { reset(); }
};

} // namespace swf
