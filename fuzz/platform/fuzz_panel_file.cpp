// libFuzzer target: the panel-file parser must reject or accept any bytes without crashing.
#include <cstdint>
#include <string>

#include "platform/detail/panel_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veldra::ui;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const int resource : {1, 2, 3}) {
        PanelDef panel;
        std::string error;
        ParsePanelFile(bytes, resource, panel, error);
    }
    return 0;
}
