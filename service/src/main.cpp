// The process entry of veldra-logd.
#include <string_view>
#include <vector>

#include "service/service.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> words;
    for (int i = 1; i < argc; ++i) {
        words.emplace_back(argv[i]);
    }
    return veldra::service::run_service(words);
}
