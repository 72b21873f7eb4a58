#include "platform/adapters.h"

#include "platform/system.h"

#include <fstream>
#include <sstream>

namespace qor::platform {

namespace {
GraphicsAdapter SoftAdapter() {
    GraphicsAdapter adapter;
    adapter.description = "Norvik Soft Adapter";
    adapter.vendorId = 0x1414;
    adapter.luid = {1, 0};
    adapter.outputs.push_back({"\\\\.\\DISPLAY1", "MONITOR\\NRV0000\\{soft}", {0, 0, 3840, 2160}});
    return adapter;
}
}  // namespace

std::vector<GraphicsAdapter> EnumerateGraphicsAdapters() {
    const auto configPath = GetEnv("NORVIK_DISPLAY_CONFIG");
    if (!configPath || configPath->empty()) return {SoftAdapter()};
    std::ifstream file(PathFromUtf8(*configPath), std::ios::binary);
    std::vector<GraphicsAdapter> adapters;
    if (!file) {
        DebugOutput("NORVIK_DISPLAY_CONFIG: cannot read " + *configPath + "\n");
        return adapters;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!ParseDisplayConfig(text.str(), &adapters)) DebugOutput("NORVIK_DISPLAY_CONFIG: malformed " + *configPath + "\n");
    return adapters;
}

}  // namespace qor::platform
