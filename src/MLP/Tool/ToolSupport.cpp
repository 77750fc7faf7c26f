#include "MLP/Tool/ToolSupport.h"

#include <exception>
#include <new>
#include <ostream>
#include <string>

#include "Common/Exceptions.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/OutputSet.h"

namespace synapsor {

namespace {

// A fault in the text as FILE:LINE:COLUMN: MESSAGE, which editors turn into a link.
std::string Positioned(const std::string& file, const FileTools::Error& e) {
    return file + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message;
}

}  // namespace

std::unique_ptr<TBasicNetwork> LoadToolNetwork(const std::string& file) {
    FileTools tools;
    try {
        return LoadNetwork(tools, file);
    } catch (const FileTools::Error& e) {
        // The reader's messages say what is wrong but not in which file.
        if (e.HasPosition())
            throw ToolError(Positioned(file, e));
        if (e.message.find(file) != std::string::npos)
            throw ToolError(e.message);
        throw ToolError(file + ": " + e.message);
    }
}

std::unique_ptr<Data> LoadToolDataSet(const std::string& file) {
    FileTools tools;
    try {
        return LoadDataSet(tools, file, DataSetRole::Input);
    } catch (const FileTools::Error& e) {
        const std::string& message = e.message;
        if (e.HasPosition())
            throw ToolError(Positioned(file, e));
        if (message.find(file) != std::string::npos)
            throw ToolError(message);
        throw ToolError(file + ": " + message);
    }
}

void CheckToolFit(const Data& data, const TBasicNetwork& network, const std::string& dataFile,
                  const std::string& networkFile) {
    FitCheck check;
    check.role = DataSetRole::Input;
    check.dataFile = dataFile;
    check.networkFile = networkFile;
    check.outputsRequired = false;
    CheckFit(data, network, check);
}

void WriteToolOutput(const std::string& file, const std::string& what, std::ostream& console,
                     const std::function<void(std::ostream&)>& write) {
    OutputSet outputs(console);
    outputs.Add(what, file, write);
    outputs.Commit();
}

std::string DescribeToolFailure() {
    try {
        throw;
    } catch (const ToolError& e) {
        return e.what();
    } catch (const FileToolsError& e) {
        return e.message;
    } catch (const TException& e) {
        return e.GetMessage() ? e.GetMessage() : "unknown error";
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const TKQstructure::Error& e) {
        return "internal error: " + (e.report ? e.report->ToText() : std::string("(error)"));
    } catch (const std::exception& e) {
        return std::string("internal error: ") + e.what();
    } catch (...) {
        return "internal error: unknown exception";
    }
}

}  // namespace synapsor
