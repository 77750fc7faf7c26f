// synapsor-tool: the programs around training, one subcommand each. Results go to standard
// output or to the files named; messages to standard error as "synapsor-tool: MESSAGE".
// Exit status: 0 on success, 1 when the work failed, 2 on a usage error (with the usage), 128 +
// the signal on SIGINT or SIGTERM, after removing the temporary files of the outputs.
#include <iostream>
#include <locale>

#include <CLI/CLI.hpp>

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
