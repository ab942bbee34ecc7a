#include "proxy/linux/GnomeProxySettings.h"

#include "TestSupport.h"
#include "proxy/GnomeProxyMapping.h"

#include <algorithm>
#include <gtest/gtest.h>

using OrnUtil::proxy::GnomeProxyValues;
using OrnUtil::proxy::MapGnomeProxySettings;
using OrnUtil::proxy::ProxySettings;
using OrnUtil::proxy::ReadGnomeProxySettings;
using namespace testing_support;

namespace {

GnomeProxyValues Manual(std::vector<std::string> ignoreHosts) {
    GnomeProxyValues values;
    values.mode = "manual";
    values.http = {"p.corp", 3128};
    values.ignoreHosts = std::move(ignoreHosts);
    return values;
}

std::string BypassOf(std::vector<std::string> ignoreHosts) {
    return MapGnomeProxySettings(Manual(std::move(ignoreHosts)))->bypassList.value_or("(none)");
}

} // namespace

TEST(GnomeProxyMapping, AutoModeGivesPacUrlOrAutoDetect) {
    GnomeProxyValues values;
    values.mode = "auto";
    values.autoconfigUrl = " http://wpad.corp/proxy.pac ";
    values.http = {"ignored.corp", 80};
    auto settings = MapGnomeProxySettings(values);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->pacUrl, "http://wpad.corp/proxy.pac");
    EXPECT_FALSE(settings->autoDetect);
    EXPECT_FALSE(settings->proxyList || settings->bypassList);

    values.autoconfigUrl = "/etc/proxy.pac";
    EXPECT_EQ(MapGnomeProxySettings(values)->pacUrl, "file:///etc/proxy.pac");

    values.autoconfigUrl = " \t";
    settings = MapGnomeProxySettings(values);
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->autoDetect);
    EXPECT_FALSE(settings->pacUrl);

    for (const char* mode : {"none", "", "Manual", "AUTO"}) {
        values.mode = mode;
        EXPECT_FALSE(MapGnomeProxySettings(values)) << mode;
    }
}

TEST(GnomeProxyMapping, ManualModeBuildsTheProxyList) {
    GnomeProxyValues values = Manual({"localhost"});
    values.https = {"s.corp", 0};
    values.ftp = {"", 21};
    values.socks = {"k.corp", 1080};
    auto settings = MapGnomeProxySettings(values);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxyList, "http=p.corp:3128;https=s.corp;socks=k.corp:1080");
    EXPECT_EQ(settings->bypassList, "localhost;*.localhost");
    EXPECT_FALSE(settings->autoDetect || settings->pacUrl);

    // Hosts typed as URLs are reduced to the host; ones that would break the list are dropped.
    values.http = {" HTTP://p.corp/ ", 70000};
    values.https = {"a;b", 443};
    values.ftp = {"user@f.corp", 21};
    values.socks = {"k.corp:1080", 0};
    EXPECT_EQ(MapGnomeProxySettings(values)->proxyList, "http=p.corp");

    values.http = {"x=y", 80};
    EXPECT_FALSE(MapGnomeProxySettings(values)) << "a bypass list alone is no setting";
}

TEST(GnomeProxyMapping, IgnoreHostsBecomeBypassRules) {
    EXPECT_EQ(BypassOf({"localhost", "127.0.0.0/8", "::1"}), "localhost;*.localhost;127.*");
    EXPECT_EQ(BypassOf({"corp", ".corp", "*.corp"}), "corp;*.corp;corp;*.corp;corp;*.corp");
    EXPECT_EQ(BypassOf({" a.corp:8080 ", "10.1.2.3", "10.1.*", "*", "*x.corp"}),
              "a.corp:8080;*.a.corp:8080;10.1.2.3;10.1.*;*;*x.corp");
    EXPECT_EQ(BypassOf({"192.168.1.7/24", "10.1.2.3/32", "0.0.0.0/0", "172.16.0.0/16:80"}),
              "192.168.1.*;10.1.2.3;*;172.16.*:80");
    EXPECT_EQ(BypassOf({"10.0.16.0/20"}),
              "10.0.16.*;10.0.17.*;10.0.18.*;10.0.19.*;10.0.20.*;10.0.21.*;10.0.22.*;10.0.23.*;"
              "10.0.24.*;10.0.25.*;10.0.26.*;10.0.27.*;10.0.28.*;10.0.29.*;10.0.30.*;10.0.31.*");
    const std::string wide = BypassOf({"10.1.2.0/31", "10.128.0.0/9"});
    EXPECT_EQ(wide.rfind("10.1.2.0;10.1.2.1;10.128.*;10.129.*;", 0), 0u) << wide;
    EXPECT_EQ(wide.substr(wide.size() - 9), ";10.255.*");
    EXPECT_EQ(std::count(wide.begin(), wide.end(), ';'), 2 + 128 - 1);
    // Nothing that the rules cannot express exactly gets through.
    EXPECT_EQ(BypassOf({"", " ", "::1", "[::1]:80", "fe80::/10", "a;b", "a b", "host:99999",
                        "host:", "10.0.0.0/33", "300.1.0.0/16", "a.corp/8", "*.", "."}),
              "(none)");
}

// Settings written by the real gsettings tool into a keyfile under a scratch folder, and read back
// through the module. GLib reads these variables once, so they are set before its first use.
class GnomeProxyStore : public ::testing::Test {
protected:
    void Set(const std::string& schema, const std::string& key, const std::string& value) {
        const RunResult result =
            testing_support::Run({"/usr/bin/gsettings", "set", schema, key, value});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    TempDir m_Config;
    ScopedEnv m_Backend{"GSETTINGS_BACKEND", "keyfile"};
    ScopedEnv m_Home{"XDG_CONFIG_HOME", m_Config.Path()};
};

TEST_F(GnomeProxyStore, ManualSettingsAreRead) {
    Set("org.gnome.system.proxy", "mode", "manual");
    Set("org.gnome.system.proxy.http", "host", "p.corp");
    Set("org.gnome.system.proxy.https", "host", "s.corp");
    Set("org.gnome.system.proxy.https", "port", "8443");
    Set("org.gnome.system.proxy.socks", "host", "k.corp");
    Set("org.gnome.system.proxy.socks", "port", "1080");
    Set("org.gnome.system.proxy", "ignore-hosts", "['*.local.corp', '10.0.0.0/8', '::1']");
    const auto settings = ReadGnomeProxySettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxyList, "http=p.corp:8080;https=s.corp:8443;socks=k.corp:1080");
    EXPECT_EQ(settings->bypassList, "local.corp;*.local.corp;10.*");
    EXPECT_FALSE(settings->autoDetect || settings->pacUrl);
    // A second read uses the library already loaded.
    EXPECT_EQ(ReadGnomeProxySettings().value_or(ProxySettings{}).proxyList, settings->proxyList);
}

TEST_F(GnomeProxyStore, AutoSettingsAreRead) {
    Set("org.gnome.system.proxy", "mode", "auto");
    Set("org.gnome.system.proxy", "autoconfig-url", "http://127.0.0.1:8080/wpad.dat");
    const auto settings = ReadGnomeProxySettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->pacUrl, "http://127.0.0.1:8080/wpad.dat");
    EXPECT_FALSE(settings->autoDetect || settings->proxyList || settings->bypassList);
}

TEST_F(GnomeProxyStore, WithoutSchemaNothingIsFound) {
    Set("org.gnome.system.proxy", "mode", "auto");
    TempDir noData;
    ScopedEnv dataDirs("XDG_DATA_DIRS", noData.Path());
    ScopedEnv schemaDir("GSETTINGS_SCHEMA_DIR", std::nullopt);
    EXPECT_FALSE(ReadGnomeProxySettings());
}

// A schema unlike the desktop's (a key missing, one of another type, a child without a fixed path)
// must be read around, never reach GLib's aborts.
TEST_F(GnomeProxyStore, UnexpectedSchemaIsReadAround) {
    TempDir schemas;
    WriteFile(schemas / "odd.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.system.proxy" path="/system/proxy/">
    <key name="mode" type="s"><default>'manual'</default></key>
  </schema>
  <schema id="org.gnome.system.proxy.http" path="/system/proxy/http/">
    <key name="host" type="s"><default>'p.corp'</default></key>
    <key name="port" type="s"><default>'3128'</default></key>
  </schema>
  <schema id="org.gnome.system.proxy.https">
    <key name="host" type="s"><default>'s.corp'</default></key>
  </schema>
</schemalist>
)");
    ASSERT_EQ(testing_support::Run({"/usr/bin/glib-compile-schemas", schemas.Path()}).exitCode, 0);
    TempDir noData;
    ScopedEnv dataDirs("XDG_DATA_DIRS", noData.Path());
    ScopedEnv schemaDir("GSETTINGS_SCHEMA_DIR", schemas.Path());
    const auto settings = ReadGnomeProxySettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->proxyList, "http=p.corp");
    EXPECT_FALSE(settings->bypassList);
}
