// Files of the sweep's end-to-end tests: the data they sweep over, readers of what the program
// writes, and whether a process holds the signals back.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace synapsor {
namespace test {

// Starts args[0] with args in `dir`, its standard output to dir/out.txt, no input, standard error
// dropped; returns its process id, 0 when it could not start.
inline pid_t StartWithOutput(const std::string& dir, const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline std::string ReadFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The fields of each line; a quoted field ("4,2") loses its quotes.
inline std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (char c : line) {
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                fields.emplace_back();
            else
                fields.back() += c;
        }
        rows.push_back(fields);
    }
    return rows;
}

// The table without its last column, the seconds, which no two runs share.
inline std::string WithoutSeconds(const std::string& csv) {
    std::string out;
    for (const auto& row : CsvRows(csv)) {
        for (std::size_t c = 0; c + 1 < row.size(); ++c)
            out += row[c] + ',';
        out += '\n';
    }
    return out;
}

// 24 rows of a smooth function of two inputs: a regression, scored by RMS.
inline std::string RegressionData() {
    std::ostringstream text;
    text << "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 24]\n[Inputs = 2]\n[ExpectedOutputs = 1]\n"
            "[Data]\n";
    for (int i = 0; i < 24; ++i) {
        const double a = (i % 6) / 5.0, b = (i / 6) / 3.0;
        text << a << ' ' << b << ' ' << 0.2 + 0.5 * a * b + 0.1 * std::sin(3.0 * a) << '\n';
    }
    text << "[~Data]\n[~DataSet]\n";
    return text.str();
}

// True when the process's blocked-signal mask holds SIGINT and SIGTERM.
inline bool HoldsSignalsBack(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) != 0)
            continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        const unsigned long long both = (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
        return (mask & both) == both;
    }
    return false;
}

}  // namespace test
}  // namespace synapsor
