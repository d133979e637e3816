#include "TempFolder.h"

#include <filesystem>
#include <random>
#include <system_error>

TTempFolder::TTempFolder(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::path base = fs::temp_directory_path(code);
    if (code) {
        return;
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    // create_directory is false for a name that exists: that one belongs to someone else.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / (name + "-" + std::to_string(random() % 1000000000U));
        if (fs::create_directory(candidate, code)) {
            path_ = candidate.generic_string();
            return;
        }
    }
}

TTempFolder::~TTempFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}
