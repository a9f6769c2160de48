// libFuzzer target: the panel-state parser must reject or accept any bytes without crashing,
// and what it accepts must survive being written and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/detail/panel_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veldra::ui;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PanelStateRecord record;
    std::string error;
    if (ParsePanelState(bytes, record, error) != 0) {
        return 0;
    }
    const std::string again = SerialisePanelState(record);
    PanelStateRecord reread;
    if (ParsePanelState(again, reread, error) != 0 || SerialisePanelState(reread) != again) {
        std::abort();
    }
    return 0;
}
