#include "MLP/Common/OutputSet.h"

#include <locale>
#include <ostream>
#include <utility>

namespace synapsor {

namespace {

bool IsConsole(const std::string& destination) {
    return destination.empty() || destination == "-";
}

[[noreturn]] void Refuse(const std::string& what, const std::string& destination,
                         const std::string& reason) {
    throw FileTools::Error("Cannot write " + what + " \"" + destination + "\": " + reason);
}

}  // namespace

OutputSet::OutputSet(std::ostream& console) : console(console) {}

OutputSet::~OutputSet() = default;

void OutputSet::AddInput(const std::string& file) {
    if (IsConsole(file))
        return;
    Input input{file, IdentifyFile(file)};
    for (const Output& output : outputs) {
        if (output.file && output.identity == input.identity)
            Refuse(output.what, output.destination,
                   "it is the same file as the input \"" + file + "\" this command reads");
    }
    inputs.push_back(std::move(input));
}

void OutputSet::Add(const std::string& what, const std::string& destination,
                    std::function<void(std::ostream&)> write) {
    Output output{what, destination, {}, nullptr, std::move(write)};
    if (!IsConsole(destination)) {
        output.identity = IdentifyFile(destination);
        for (const Input& input : inputs) {
            if (input.identity == output.identity)
                Refuse(
                    what, destination,
                    "it is the same file as the input \"" + input.file + "\" this command reads");
        }
        for (const Output& earlier : outputs) {
            if (earlier.file && earlier.identity == output.identity)
                Refuse(what, destination,
                       "it is the same file as the " + earlier.what + " \"" + earlier.destination +
                           "\" this command writes");
        }
        output.file = std::make_unique<PendingFile>(what, destination);
    }
    outputs.push_back(std::move(output));
}

void OutputSet::Commit() {
    auto toFile = [](Output& output) {
        output.file->Write([&](std::ostream& out) {
            out.imbue(std::locale::classic());
            output.write(out);
        });
    };
    // Everything that can still be taken back goes first.
    for (Output& output : outputs) {
        if (output.file && !output.file->Direct())
            toFile(output);
    }
    for (Output& output : outputs) {
        if (output.file)
            output.file->Finish();
    }
    for (Output& output : outputs) {
        if (output.file && output.file->Direct()) {
            toFile(output);
        } else if (!output.file) {
            output.write(console);
            console.flush();
            if (!console)
                throw FileTools::Error("cannot write " + output.what + " to standard output");
        }
    }
    for (Output& output : outputs) {
        if (output.file)
            output.file->Replace();
    }
}

}  // namespace synapsor
