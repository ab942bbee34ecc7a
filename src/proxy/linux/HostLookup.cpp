#include "proxy/linux/HostLookup.h"

#include "proxy/linux/LibraryPin.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ifaddrs.h>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <thread>

namespace OrnUtil::proxy {

namespace {

// getaddrinfo cannot be given a deadline, so it runs on a thread of its own, joined when it answers
// in time. One that overruns the caller's wait is left to finish, and keeps the library loaded;
// the shared state keeps what it writes alive until it is done.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::string> addresses;
};

constexpr int MAX_RUNNING = 8;
std::atomic<int> running{0};

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    return text;
}

// IPv4 before IPv6, each family in the resolver's order, no duplicates.
void AddOrdered(std::vector<std::string>& addresses, const std::string& text, bool v4) {
    if (text.empty() || std::find(addresses.begin(), addresses.end(), text) != addresses.end())
        return;
    if (!v4) {
        addresses.push_back(text);
        return;
    }
    const auto firstV6 = std::find_if(addresses.begin(), addresses.end(), [](const auto& a) {
        return a.find(':') != std::string::npos;
    });
    addresses.insert(firstV6, text);
}

std::vector<std::string> Resolve(const std::string& host, AddressFamily family) {
    addrinfo hints{};
    hints.ai_family = family == AddressFamily::IPV4 ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<std::string> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
        AddOrdered(addresses, AddressText(entry->ai_addr), entry->ai_family == AF_INET);
    freeaddrinfo(found);
    return addresses;
}

} // namespace

std::vector<std::string> ResolveHost(const std::string& host, AddressFamily family,
                                     unsigned timeoutMs) {
    if (host.empty() || host.size() > 253 || host.find('\0') != std::string::npos)
        return {};
    unsigned char literal[16];
    if (inet_pton(AF_INET, host.c_str(), literal) == 1 ||
        (family == AddressFamily::ANY && inet_pton(AF_INET6, host.c_str(), literal) == 1))
        return {host};
    if (timeoutMs == 0)
        return {};
    if (running.fetch_add(1) >= MAX_RUNNING) {
        running.fetch_sub(1);
        return {};
    }
    auto lookup = std::make_shared<Lookup>();
    std::thread thread([lookup, host, family] {
        std::vector<std::string> addresses = Resolve(host, family);
        std::lock_guard<std::mutex> hold(lookup->lock);
        lookup->addresses = std::move(addresses);
        lookup->finished = true;
        running.fetch_sub(1);
        lookup->done.notify_all();
    });
    std::unique_lock<std::mutex> hold(lookup->lock);
    if (!lookup->done.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                               [&] { return lookup->finished; })) {
        KeepLibraryLoaded();
        thread.detach();
        return {};
    }
    hold.unlock();
    thread.join();
    return lookup->addresses;
}

std::vector<std::string> LocalAddresses(AddressFamily family) {
    std::vector<std::string> ranked[3]; // ordinary, link-local, loopback
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) == 0) {
        for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0)
                continue;
            const int addressFamily = entry->ifa_addr->sa_family;
            if (addressFamily != AF_INET &&
                (family == AddressFamily::IPV4 || addressFamily != AF_INET6))
                continue;
            const std::string text = AddressText(entry->ifa_addr);
            const int rank = (entry->ifa_flags & IFF_LOOPBACK) != 0                          ? 2
                             : text.rfind("169.254.", 0) == 0 || text.rfind("fe80:", 0) == 0 ? 1
                                                                                             : 0;
            AddOrdered(ranked[rank], text, addressFamily == AF_INET);
        }
        freeifaddrs(interfaces);
    }
    for (const auto& addresses : ranked)
        if (!addresses.empty())
            return addresses;
    return {"127.0.0.1"};
}

} // namespace OrnUtil::proxy
