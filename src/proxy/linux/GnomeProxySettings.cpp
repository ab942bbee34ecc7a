#include "proxy/linux/GnomeProxySettings.h"

#include "platform/Library.h"
#include "platform/Signals.h"
#include "proxy/GnomeProxyMapping.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace OrnUtil::proxy {

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
    void* (*typeClassRef)(size_t type);
    size_t (*socketGetType)();
};

template <typename Fn>
bool Bind(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    return fn != nullptr;
}

// GLib is never unloaded: its type system and worker threads outlive any user of it, so the
// handle is kept whether or not the binding succeeds.
std::optional<Gio> LoadGio() {
    void* library = platform::OpenLibrary("libgio-2.0.so.0");
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
        !Bind(library, "g_object_unref", gio.objectUnref) || !Bind(library, "g_free", gio.free) ||
        !Bind(library, "g_type_class_ref", gio.typeClassRef) ||
        !Bind(library, "g_socket_get_type", gio.socketGetType))
        return std::nullopt;
    // GLib sets SIGPIPE to be ignored, for the whole process and over any handler of the
    // application's, when its socket class is first made; the settings backend makes it on a
    // thread of its own, at a moment of its choosing. Made here first, the class lets the
    // application's action be put back for good: GLib's own sends never raise SIGPIPE
    // (MSG_NOSIGNAL), and neither do this library's.
    const struct sigaction before = platform::CurrentAction(SIGPIPE);
    gio.typeClassRef(gio.socketGetType());
    platform::SetAction(SIGPIPE, before);
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
// every read, so the readers are kept for the process, never destroyed: GLib may be gone at exit.
class CReaders {
public:
    explicit CReaders(const Gio& gio) : m_Gio(gio) {}

    const CSchemaReader& Get(const char* id) {
        std::unique_ptr<CSchemaReader>& reader = m_Readers[id];
        if (!reader)
            reader = std::make_unique<CSchemaReader>(m_Gio, id);
        return *reader;
    }

private:
    const Gio& m_Gio;
    std::map<std::string, std::unique_ptr<CSchemaReader>> m_Readers;
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

std::optional<ProxySettings> ReadGnomeProxySettings() {
    static const std::optional<Gio> gio = LoadGio();
    if (!gio)
        return std::nullopt;
    static std::mutex lock;
    static CReaders* const readers = new CReaders(*gio);
    std::lock_guard<std::mutex> hold(lock);
    const std::optional<GnomeProxyValues> values = ReadValues(*readers);
    return values ? MapGnomeProxySettings(*values) : std::nullopt;
}

} // namespace OrnUtil::proxy
