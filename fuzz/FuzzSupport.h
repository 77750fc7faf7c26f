// Helpers shared by the fuzz targets: a scratch directory for the files a target must hand to a
// reader by name (created on first use, removed with its contents at exit), a guard that
// silences the standard streams while the program's own reporting runs, and FUZZ_CHECK, which
// turns a broken property into a crash libFuzzer records.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                          \
    ((cond) ? static_cast<void>(0)                                                                \
            : (std::fprintf(stderr, "Fuzz check failed: %s, %s:%d\n", #cond, __FILE__, __LINE__), \
               std::abort()))

namespace synapsor {
namespace fuzz {

// The process's scratch directory; every file in it is rewritten by each run.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "synapsor-fuzzXXXXXX").string();
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return true;
    }();
    static_cast<void>(cleanup);
    return dir;
}

// Writes text to the scratch file name and returns its path.
inline std::string WriteScratchFile(const char* name, std::string_view text) {
    const std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    FUZZ_CHECK(out.good());
    return path;
}

// Sends std::cout and std::cerr to nowhere while it lives.
class QuietStreams {
  public:
    QuietStreams() : out(std::cout.rdbuf(&sink)), err(std::cerr.rdbuf(&sink)) {}
    ~QuietStreams() {
        std::cout.rdbuf(out);
        std::cerr.rdbuf(err);
        std::cout.clear();
        std::cerr.clear();
    }
    QuietStreams(const QuietStreams&) = delete;
    QuietStreams& operator=(const QuietStreams&) = delete;

  private:
    struct NullBuffer : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    NullBuffer sink;
    std::streambuf* out;
    std::streambuf* err;
};

}  // namespace fuzz
}  // namespace synapsor
