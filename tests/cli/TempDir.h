// A fresh directory under the system's temporary directory, removed with its contents when the
// object goes out of scope. WriteFile puts a text file into it and returns the file's path.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <stdlib.h>

namespace synapsor {
namespace test {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "synapsorXXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }

    std::string WriteFile(const std::string& name, const std::string& text) const {
        const std::string file = File(name);
        std::ofstream out(file, std::ios::binary);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + file);
        return file;
    }

  private:
    std::string path;
};

}  // namespace test
}  // namespace synapsor
