#include "platform/proxy/GnomeProxySettings.h"

#include "Strings.h"
#include "platform/Library.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <strings.h>

namespace OrnUtil::platform {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

bool IsDigits(const std::string& text, size_t maxLength) {
    return !text.empty() && text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Dotted quad into its four octets; false for anything else.
bool ParseIPv4(const std::string& text, unsigned (&octets)[4]) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos)
            return false;
        const std::string octet = text.substr(start, end - start);
        if (!IsDigits(octet, 3) || std::stoul(octet) > 255)
            return false;
        octets[i] = static_cast<unsigned>(std::stoul(octet));
        start = end + 1;
    }
    return true;
}

// GNOME's hosts are often typed as URLs; the proxy list wants host alone, and a character that
// carries meaning in the list would corrupt the neighbouring entries.
void AddProxyEntry(std::string& list, const char* scheme, const GnomeProxyHost& proxy) {
    std::string host = internal::Trimmed(proxy.host);
    if (StartsWithNoCase(host, "http://"))
        host.erase(0, 7);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    if (host.empty() || host.find_first_of(";=/:@ \t\r\n") != std::string::npos)
        return;
    if (!list.empty())
        list += ';';
    list += scheme;
    list += '=';
    list += host;
    // Port 0 is GNOME's "not set": the host alone leaves the port to the proxy scheme's default.
    if (proxy.port > 0 && proxy.port <= 65535)
        list += ':' + std::to_string(proxy.port);
}

// A network with a prefix length becomes the wildcard patterns that cover exactly its addresses:
// one per value of the octet that the prefix cuts (at most 128).
void AddNetworkRules(std::vector<std::string>& rules, const std::string& network,
                     const std::string& port) {
    const size_t slash = network.find('/');
    unsigned octets[4];
    const std::string prefixText = network.substr(slash + 1);
    if (!ParseIPv4(network.substr(0, slash), octets) || !IsDigits(prefixText, 2))
        return;
    const unsigned prefix = static_cast<unsigned>(std::stoul(prefixText));
    if (prefix > 32)
        return;
    const unsigned whole = prefix / 8, rest = prefix % 8;
    std::string head;
    for (unsigned i = 0; i < whole; ++i)
        head += std::to_string(octets[i]) + (i < 3 ? "." : "");
    if (rest == 0) {
        rules.push_back(whole == 4 ? head + port : head + "*" + port);
        return;
    }
    const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
    const unsigned first = octets[whole] & mask, count = 1u << (8 - rest);
    for (unsigned value = first; value < first + count; ++value)
        rules.push_back(head + std::to_string(value) + (whole < 3 ? ".*" : "") + port);
}

// GNOME's entries (host, .domain, *.domain, IPv4 address, IPv4 network, each with an optional
// :port) name a domain together with its subdomains; the bypass rules match whole hosts, so a
// domain becomes two rules. IPv6 entries have no form in the bypass rules and are left out.
void AddBypassRules(std::vector<std::string>& rules, const std::string& raw) {
    std::string entry = internal::Trimmed(raw);
    if (entry.empty() || entry.find_first_of("; \t\r\n") != std::string::npos || entry[0] == '[' ||
        std::count(entry.begin(), entry.end(), ':') > 1)
        return;
    std::string port;
    const size_t colon = entry.find(':');
    if (colon != std::string::npos) {
        port = entry.substr(colon);
        entry.erase(colon);
        if (!IsDigits(port.substr(1), 5) || std::stoul(port.substr(1)) > 65535)
            return;
    }
    if (entry.empty())
        return;
    if (entry.find('/') != std::string::npos) {
        AddNetworkRules(rules, entry, port);
        return;
    }
    std::string domain = entry;
    if (StartsWithNoCase(domain, "*."))
        domain.erase(0, 2);
    else if (domain[0] == '.')
        domain.erase(0, 1);
    if (domain.empty())
        return;
    // Addresses and other wildcard patterns already say exactly what they match.
    unsigned octets[4];
    if (domain.find('*') != std::string::npos || ParseIPv4(domain, octets)) {
        rules.push_back(entry + port);
        return;
    }
    rules.push_back(domain + port);
    rules.push_back("*." + domain + port);
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : ";") + part;
    return joined;
}

} // namespace

std::optional<ProxySettings> MapGnomeProxySettings(const GnomeProxyValues& values) {
    ProxySettings settings;
    if (values.mode == "auto") {
        const std::string url = internal::Trimmed(values.autoconfigUrl);
        if (url.empty())
            settings.autoDetect = true;
        else
            settings.pacUrl = url[0] == '/' ? "file://" + url : url;
    } else if (values.mode == "manual") {
        std::string list;
        AddProxyEntry(list, "http", values.http);
        AddProxyEntry(list, "https", values.https);
        AddProxyEntry(list, "ftp", values.ftp);
        AddProxyEntry(list, "socks", values.socks);
        // Bypass rules without a proxy would change nothing, yet make this source look
        // configured.
        if (list.empty())
            return std::nullopt;
        settings.proxyList = list;
        std::vector<std::string> rules;
        for (const std::string& entry : values.ignoreHosts)
            AddBypassRules(rules, entry);
        if (!rules.empty())
            settings.bypassList = Join(rules);
    }
    if (!settings.Any())
        return std::nullopt;
    return settings;
}

namespace {

// The few GLib entry points used, declared here so that building needs no GLib headers. GLib's
// gboolean is an int, gsize a size_t.
struct Gio {
    void* (*schemaSourceGetDefault)();
    void* (*schemaSourceLookup)(void* source, const char* id, int recursive);
    const char* (*schemaGetPath)(void* schema);
    int (*schemaHasKey)(void* schema, const char* key);
    void (*schemaUnref)(void* schema);
    void* (*settingsNewFull)(void* schema, void* backend, const char* path);
    void* (*settingsGetValue)(void* settings, const char* key);
    const char* (*variantGetTypeString)(void* variant);
    const char* (*variantGetString)(void* variant, size_t* length);
    int32_t (*variantGetInt32)(void* variant);
    const char** (*variantGetStrv)(void* variant, size_t* length);
    void (*variantUnref)(void* variant);
    void (*objectUnref)(void* object);
    void (*free)(void* memory);
};

template <typename Fn>
bool Bind(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    return fn != nullptr;
}

// GLib is never unloaded: its type system and worker threads outlive any user of it, so the
// handle is kept whether or not the binding succeeds.
std::optional<Gio> LoadGio(const char* path) {
    void* library = OpenLibrary(path);
    if (library == nullptr)
        return std::nullopt;
    Gio gio{};
    if (!Bind(library, "g_settings_schema_source_get_default", gio.schemaSourceGetDefault) ||
        !Bind(library, "g_settings_schema_source_lookup", gio.schemaSourceLookup) ||
        !Bind(library, "g_settings_schema_get_path", gio.schemaGetPath) ||
        !Bind(library, "g_settings_schema_has_key", gio.schemaHasKey) ||
        !Bind(library, "g_settings_schema_unref", gio.schemaUnref) ||
        !Bind(library, "g_settings_new_full", gio.settingsNewFull) ||
        !Bind(library, "g_settings_get_value", gio.settingsGetValue) ||
        !Bind(library, "g_variant_get_type_string", gio.variantGetTypeString) ||
        !Bind(library, "g_variant_get_string", gio.variantGetString) ||
        !Bind(library, "g_variant_get_int32", gio.variantGetInt32) ||
        !Bind(library, "g_variant_get_strv", gio.variantGetStrv) ||
        !Bind(library, "g_variant_unref", gio.variantUnref) ||
        !Bind(library, "g_object_unref", gio.objectUnref) || !Bind(library, "g_free", gio.free))
        return std::nullopt;
    return gio;
}

// One schema's settings. GLib aborts the process on a schema that is not installed, one without a
// fixed path, or a key the schema lacks, so each is checked before GLib is asked; a key of an
// unexpected type is treated as unset.
class CSchemaReader {
public:
    CSchemaReader(const Gio& gio, const char* id) : m_Gio(gio) {
        void* source = gio.schemaSourceGetDefault();
        m_Schema = source != nullptr ? gio.schemaSourceLookup(source, id, 1) : nullptr;
        if (m_Schema != nullptr && gio.schemaGetPath(m_Schema) != nullptr)
            m_Settings = gio.settingsNewFull(m_Schema, nullptr, nullptr);
    }
    ~CSchemaReader() {
        if (m_Settings != nullptr)
            m_Gio.objectUnref(m_Settings);
        if (m_Schema != nullptr)
            m_Gio.schemaUnref(m_Schema);
    }
    CSchemaReader(const CSchemaReader&) = delete;
    CSchemaReader& operator=(const CSchemaReader&) = delete;

    bool Found() const { return m_Settings != nullptr; }

    std::string String(const char* key) const {
        std::string text;
        Read(key, "s", [&](void* value) { text = m_Gio.variantGetString(value, nullptr); });
        return text;
    }

    int Int(const char* key) const {
        int number = 0;
        Read(key, "i", [&](void* value) { number = m_Gio.variantGetInt32(value); });
        return number;
    }

    std::vector<std::string> Strings(const char* key) const {
        std::vector<std::string> list;
        Read(key, "as", [&](void* value) {
            size_t length = 0;
            const char** items = m_Gio.variantGetStrv(value, &length);
            for (size_t i = 0; i < length; ++i)
                list.emplace_back(items[i]);
            m_Gio.free(static_cast<void*>(items));
        });
        return list;
    }

    GnomeProxyHost Host() const { return {String("host"), Int("port")}; }

private:
    template <typename Fn>
    void Read(const char* key, const char* type, Fn take) const {
        if (m_Settings == nullptr || !m_Gio.schemaHasKey(m_Schema, key))
            return;
        void* value = m_Gio.settingsGetValue(m_Settings, key);
        if (value == nullptr)
            return;
        if (std::strcmp(m_Gio.variantGetTypeString(value), type) == 0)
            take(value);
        m_Gio.variantUnref(value);
    }

    const Gio& m_Gio;
    void* m_Schema = nullptr;
    void* m_Settings = nullptr;
};

// Opening a schema's settings costs tens of microseconds, far more than reading them, and a
// request reads the settings each time. The desktop's settings database is checked for changes on
// every read, so the default library's readers are kept for the process; any other library's live
// for one call.
class CReaders {
public:
    CReaders(const Gio& gio, bool keep) : m_Gio(gio), m_Readers(keep ? Kept() : m_Own) {}

    const CSchemaReader& Get(const char* id) {
        std::unique_ptr<CSchemaReader>& reader = m_Readers[id];
        if (!reader)
            reader = std::make_unique<CSchemaReader>(m_Gio, id);
        return *reader;
    }

    static std::mutex& KeptLock() {
        static std::mutex lock;
        return lock;
    }

private:
    using Map = std::map<std::string, std::unique_ptr<CSchemaReader>>;
    static Map& Kept() {
        static Map* kept = new Map; // never destroyed: GLib may be gone at exit
        return *kept;
    }

    const Gio& m_Gio;
    Map m_Own;
    Map& m_Readers;
};

std::optional<GnomeProxyValues> ReadValues(CReaders& readers) {
    GnomeProxyValues values;
    const CSchemaReader& proxy = readers.Get("org.gnome.system.proxy");
    if (!proxy.Found())
        return std::nullopt;
    values.mode = proxy.String("mode");
    if (values.mode == "auto") {
        values.autoconfigUrl = proxy.String("autoconfig-url");
    } else if (values.mode == "manual") {
        values.ignoreHosts = proxy.Strings("ignore-hosts");
        values.http = readers.Get("org.gnome.system.proxy.http").Host();
        values.https = readers.Get("org.gnome.system.proxy.https").Host();
        values.ftp = readers.Get("org.gnome.system.proxy.ftp").Host();
        values.socks = readers.Get("org.gnome.system.proxy.socks").Host();
    } else {
        return std::nullopt;
    }
    return values;
}

} // namespace

std::optional<ProxySettings> ReadGnomeProxySettings(const char* gioLibrary) {
    const bool standard = gioLibrary != nullptr && std::strcmp(gioLibrary, GIO_LIBRARY) == 0;
    if (standard) {
        static const std::optional<Gio> loaded = LoadGio(GIO_LIBRARY);
        if (!loaded)
            return std::nullopt;
        std::lock_guard<std::mutex> hold(CReaders::KeptLock());
        CReaders readers(*loaded, true);
        const std::optional<GnomeProxyValues> values = ReadValues(readers);
        return values ? MapGnomeProxySettings(*values) : std::nullopt;
    }
    const std::optional<Gio> gio = LoadGio(gioLibrary);
    if (!gio)
        return std::nullopt;
    CReaders readers(*gio, false);
    const std::optional<GnomeProxyValues> values = ReadValues(readers);
    return values ? MapGnomeProxySettings(*values) : std::nullopt;
}

} // namespace OrnUtil::platform
