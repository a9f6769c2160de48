// Consistent generations of panel values for the crash test.
#include "crash_record.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "app/panel_ids.h"
#include "platform/ui.h"

namespace veldra::reliability {

namespace {

// Kept inside any sensible range the interval field may have.
int interval_for(int generation) {
    return 12 + generation % 500;
}

}  // namespace

std::string settings_text_for(int generation) {
    return "generation-" + std::to_string(generation) + "-" +
           std::string(static_cast<std::size_t>(generation % 97) * 40, 'x');
}

void write_settings_generation(int generation) {
    SetCtrlVal(main_panel, interval_field, interval_for(generation));
    SetCtrlVal(main_panel, logfile_field, settings_text_for(generation));
}

int read_settings_generation() {
    int interval = -1;
    std::string text;
    if (GetCtrlVal(main_panel, interval_field, interval) < 0 ||
        GetCtrlVal(main_panel, logfile_field, text) < 0) {
        return -1;
    }
    const std::string prefix = "generation-";
    if (text.rfind(prefix, 0) != 0) {
        return -1;
    }
    const int generation = std::atoi(text.c_str() + prefix.size());
    if (generation <= 0 || text != settings_text_for(generation) ||
        interval != interval_for(generation)) {
        return -1;
    }
    return generation;
}

CrashProgress* map_crash_progress(const std::filesystem::path& folder) {
    const int fd = open((folder / "progress").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    const bool sized = ftruncate(fd, sizeof(CrashProgress)) == 0;
    void* memory =
        sized ? mmap(nullptr, sizeof(CrashProgress), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
              : MAP_FAILED;
    close(fd);
    // A fresh file is all zeros, which is what the atomics start from.
    return memory == MAP_FAILED ? nullptr : static_cast<CrashProgress*>(memory);
}

}  // namespace veldra::reliability
