// The subcommands of synapsor-tool. Each Add...Command registers one subcommand with its options
// on the program's command line; its callback does the work and throws on failure (see
// ToolSupport.h).
#pragma once

#include <CLI/CLI.hpp>

namespace synapsor {

void AddCreateCommand(CLI::App& app);
void AddRecallCommand(CLI::App& app);
void AddEvaluateCommand(CLI::App& app);
void AddInfoCommand(CLI::App& app);
void AddPruneCommand(CLI::App& app);
void AddImportCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddCheckCommand(CLI::App& app);
void AddPlotCommand(CLI::App& app);
void AddSweepCommand(CLI::App& app);

}  // namespace synapsor
