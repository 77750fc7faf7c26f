// synapsor-tool: the programs around training, one subcommand each. Results go to standard
// output or to the files named; messages to standard error as "synapsor-tool: MESSAGE".
// Exit status: 0 on success, 1 when the work failed, 2 on a usage error (with the usage), 128 +
// the signal on SIGINT or SIGTERM, after removing the temporary files of the outputs.
#include <algorithm>
#include <iostream>
#include <locale>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Common/StrCase.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace {

// The usage of the deepest subcommand the command line reached.
const CLI::App& FailedCommand(const CLI::App& app) {
    const CLI::App* at = &app;
    for (;;) {
        const auto parsed = at->get_subcommands();
        if (parsed.empty())
            return *at;
        at = parsed.back();
    }
}

// The first word that is no option names the subcommand; when no subcommand has that name, the
// message "unknown subcommand NAME (did you mean X?)" names the closest ones (two edits or fewer,
// or the word as the start of a name), else lists them all. Empty when the word is known or
// there is none (the parser then reports what is missing).
std::string UnknownSubcommand(const CLI::App& app, int argc, char** argv) {
    std::string word;
    for (int i = 1; i < argc && word.empty(); ++i) {
        if (argv[i][0] != '-' || argv[i][1] == '\0')
            word = argv[i];
    }
    if (word.empty())
        return std::string();
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->check_name(word))
            return std::string();
        names.push_back(sub->get_name());
    }
    std::size_t best = 3;
    std::vector<std::string> close;
    for (const std::string& name : names) {
        const bool prefix = word.size() >= 2 && name.compare(0, word.size(), word) == 0;
        const std::size_t d = prefix ? 1 : synapsor::EditDistance(word, name);
        if (d > 2)
            continue;
        if (d < best) {
            best = d;
            close.clear();
        }
        if (d == best)
            close.push_back(name);
    }
    const std::vector<std::string>& shown = close.empty() ? names : close;
    std::string list;
    for (std::size_t k = 0; k < shown.size(); ++k)
        list += (k == 0 ? "" : k + 1 == shown.size() ? " or " : ", ") + shown[k];
    return "unknown subcommand " + word +
           (close.empty() ? " (the subcommands are " : " (did you mean ") + list +
           (close.empty() ? ")" : "?)");
}

int Run(int argc, char** argv) {
    using namespace synapsor;
    CLI::App app{
        "synapsor-tool: make networks, prepare data and use trained networks for the "
        "Synapsor trainer",
        "synapsor-tool"};
    app.set_version_flag("--version", "synapsor-tool " SYNAPSOR_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();
    AddCreateCommand(app);
    AddRecallCommand(app);
    AddEvaluateCommand(app);
    AddImportCommand(app);
    AddExportCommand(app);
    AddCheckCommand(app);
    AddPlotCommand(app);
    AddInfoCommand(app);
    AddPruneCommand(app);
    AddSweepCommand(app);

    const std::string unknown = UnknownSubcommand(app, argc, argv);
    if (!unknown.empty()) {
        std::cerr << "synapsor-tool: " << unknown << '\n' << app.help();
        return kToolUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(e);  // --help and --version, on standard output
        std::cerr << "synapsor-tool: " << e.what() << '\n' << FailedCommand(app).help();
        return kToolUsage;
    }
    return kToolSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    // Temporary files beside the outputs go away on SIGINT and SIGTERM; over the file size limit
    // a write fails with a message instead of the signal ending the program.
    synapsor::InstallInterruptCleanup();
    std::cout.imbue(std::locale::classic());
    try {
        return Run(argc, argv);
    } catch (...) {
        std::cerr << "synapsor-tool: " << synapsor::DescribeToolFailure() << std::endl;
        return synapsor::kToolFailure;
    }
}
