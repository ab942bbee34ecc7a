// A plug-in for the loader tests: one entry point, found by name.
extern "C" __attribute__((visibility("default"))) int PluginAnswer() {
    return 42;
}
