#pragma once

#include <string>

// A new, empty folder of its own under the system's temporary folder, named after what uses it;
// removed with everything in it when the object goes. Path() is empty when none could be made.
class TTempFolder {
public:
    explicit TTempFolder(const std::string& name);
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};
