// crawlpeek: prints the crawler's visited-URL database for its operator.
#include <cstdio>

#include "log/objlog.h"
#include "tool/options.h"
#include "tool/state_path.h"

namespace {

constexpr char kLogFile[] = "logs/crawlpeek.log";
// Rotation size of the tool's log, and the size above which an existing log
// is rotated when it is opened.
constexpr int32_t kLogRotateSize = 1000000;

}  // namespace

int main(int argc, char *argv[]) {
    RunSettings settings;
    switch (parse_options(argc, argv, &settings)) {
        case OptionsResult::kVersion:
            std::printf("%s\n", version_string());
            return 0;
        case OptionsResult::kUsage:
            usage();
        case OptionsResult::kRun:
            break;
    }
    if (settings.state_dir != nullptr) crawlpeek_set_state_path(settings.state_dir);
    robot_log_init(kLogFile, settings.log_level, kLogRotateSize);
    return 0;
}
