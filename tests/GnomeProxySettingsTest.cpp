#include "proxy/linux/GnomeProxySettings.h"

#include "ScriptedProxyPlatform.h"
#include "TestSupport.h"
#include "proxy/GnomeProxyMapping.h"

#include <gtest/gtest.h>

using namespace OrnUtil::proxy;
using namespace testing_support;

namespace {

std::string Mapped(const GnomeProxyValues& values) {
    return SettingsText(MapGnomeProxySettings(values).value_or(ProxySettings()));
}

TEST(GnomeProxyMapping, ModesGiveTheScriptTheDetectionOrTheManualProxiesAndTheirExceptions) {
    const GnomeProxyHost no, proxy{"proxy.corp", 3128}, unset{"s.corp", 0}, url{" HTTP://p/ ", 1};
    const auto ignoring = [&url, &no](std::vector<std::string> hosts) {
        return GnomeProxyValues{"manual", "", url, no, no, no, std::move(hosts)};
    };
    // Values and what they stand for: hosts typed as URLs are reduced, list-breaking ones dropped.
    const std::pair<GnomeProxyValues, const char*> cases[] = {
        {{"auto", " http://wpad/proxy.pac ", proxy, proxy, no, no, {"a"}},
         "pac=http://wpad/proxy.pac"},
        {{"auto", " \t", no, no, no, no, {}}, "auto"},
        {{"Manual", "/etc/proxy.pac", proxy, no, no, no, {}}, ""},
        {{"manual", "", proxy, unset, {"", 21}, {"k.corp", 1080}, {}},
         "list=http=proxy.corp:3128;https=s.corp;socks=k.corp:1080"},
        {{"manual", "", {"a;b", 1}, {"u@f", 2}, {"f:21", 3}, {"proxy.corp", 70000}, {}},
         "list=socks=proxy.corp"},
        {ignoring({"a"}), "list=http=p:1 bypass=a;*.a"},
        {{"manual", "", {"x=y", 80}, no, no, no, {"a"}}, ""},
        {ignoring({"localhost", "127.0.0.0/8", ".corp", "*.corp", " a:80 ", "10.1.*", "*",
                   "*x.corp", "10.1.2.3/32", "0.0.0.0/0", "172.16.0.0/16:80", "10.0.17.0/22",
                   "10.1.2.1/31"}),
         "list=http=p:1 bypass=localhost;*.localhost;127.*;corp;*.corp;corp;*.corp;a:80;*.a:80;"
         "10.1.*;*;*x.corp;10.1.2.3;*;172.16.*:80;10.0.16.*;10.0.17.*;10.0.18.*;10.0.19.*;"
         "10.1.2.0;10.1.2.1"},
        // Nothing that the rules cannot express exactly gets through.
        {ignoring({"", " ", "[a]", "[::1]:80", "fe80::/10", "a;b", "a b", "host:99999",
                   "host:", "*.", ".", "a.corp/8", "10.0.0.0/33", "300.1.0.0/16"}),
         "list=http=p:1"}};
    for (const auto& [values, expected] : cases)
        EXPECT_EQ(Mapped(values), expected);
}

// The real reader, on a keyfile store, around what an odd schema lacks instead of GLib's aborts.
TEST(GnomeProxyStore, SettingsAreReadAroundWhatTheSchemaLacks) {
    TempDir config, schemas, noData;
    ScopedEnv backend("GSETTINGS_BACKEND", "keyfile"), home("XDG_CONFIG_HOME", config.Path());
    ScopedEnv data("XDG_DATA_DIRS", noData.Path()), dir("GSETTINGS_SCHEMA_DIR", schemas.Path());
    WriteFile(schemas / "odd.gschema.xml", R"(<schemalist>
<schema id="org.gnome.system.proxy" path="/system/proxy/">
  <key name="mode" type="s"><default>'none'</default></key>
  <key name="ignore-hosts" type="as"><default>['*.corp']</default></key></schema>
<schema id="org.gnome.system.proxy.http" path="/system/proxy/http/">
  <key name="host" type="s"><default>'p.corp'</default></key>
  <key name="port" type="s"><default>'1'</default></key></schema>
<schema id="org.gnome.system.proxy.https">
  <key name="host" type="s"><default>'s.corp'</default></key></schema></schemalist>)");
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"/usr/bin/glib-compile-schemas", schemas.Path()},
          {"/usr/bin/gsettings", "set", "org.gnome.system.proxy", "mode", "manual"}})
        ASSERT_EQ(testing_support::Run(command).exitCode, 0);
    EXPECT_EQ(SettingsText(ReadGnomeProxySettings().value_or(ProxySettings())),
              "list=http=p.corp bypass=corp;*.corp");
}

} // namespace
