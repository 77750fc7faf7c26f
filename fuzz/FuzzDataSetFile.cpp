// Fuzz target: the data set file readers, which read files by name: the input is written to a
// scratch file first. Any input must give data sets or FileTools::Error (TException for a size
// the data set refuses), whose place names the file and points at the token found in it. A file
// that was read is written, read back and written again: the reader must accept what the writer
// emits, and the second text must equal the first. The header probe and the chunk reader see the
// same file.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "FileHandler/Filer.h"
#include "FuzzPlace.h"
#include "FuzzSupport.h"

namespace {

using synapsor::Data;
using synapsor::FileTools;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes both data sets to the scratch file "written.dat" and returns its text.
std::string WriteBack(FileTools& tools, Data* first, Data* second) {
    const std::string path = synapsor::fuzz::ScratchDir() + "/written.dat";
    FUZZ_CHECK(tools.WriteDataSetFile(path.c_str(), first, second) == FileTools::SUCCESS);
    return ReadText(path);
}

void RoundTrip(FileTools& tools, Data* first, Data* second) {
    const std::string text = WriteBack(tools, first, second);
    const std::string path = synapsor::fuzz::WriteScratchFile("again.dat", text);
    std::unique_ptr<Data> first2, second2;
    try {
        FUZZ_CHECK(tools.ReadDataSetFile(path.c_str(), first2, second2) == FileTools::SUCCESS);
    } catch (const FileTools::Error& e) {
        std::fprintf(stderr, "written data set not readable: %s\n%s\n", e.message.c_str(),
                     text.c_str());
        FUZZ_CHECK(!"the reader accepts what the writer emits");
    }
    FUZZ_CHECK((first2 != nullptr) == (first != nullptr));
    FUZZ_CHECK((second2 != nullptr) == (second != nullptr));
    FUZZ_CHECK(WriteBack(tools, first2.get(), second2.get()) == text);
}

void ReadChunk(FileTools& tools, const std::string& path, std::int32_t rows) {
    long offset = 0;
    std::unique_ptr<Data> first, second;
    if (tools.ReadDataSetChunk(path.c_str(), offset, rows, first, second) == FileTools::SUCCESS) {
        FUZZ_CHECK(offset >= 0);
        FUZZ_CHECK(first == nullptr || first->MbrNdxDataRows == rows);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FileTools tools;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string path = synapsor::fuzz::WriteScratchFile("input.dat", text);
    try {
        tools.ProbeFileHeader(path.c_str());
    } catch (const FileTools::Error& e) {
        synapsor::fuzz::CheckPlace(e, text);
    }
    std::unique_ptr<Data> first, second;
    std::int32_t code = FileTools::FORMAT_ERROR;
    try {
        code = tools.ReadDataSetFile(path.c_str(), first, second);
    } catch (const FileTools::Error& e) {
        synapsor::fuzz::CheckPlace(e, text);
        FUZZ_CHECK(e.file == path);
        return 0;
    } catch (const synapsor::TException&) {
        return 0;
    }
    FUZZ_CHECK(code == FileTools::SUCCESS);
    if (first == nullptr && second == nullptr)
        return 0;
    const std::int32_t rows = first ? first->MbrNdxDataRows : second->MbrNdxDataRows;
    FUZZ_CHECK(second == nullptr || first == nullptr || second->MbrNdxDataRows == rows);
    RoundTrip(tools, first.get(), second.get());
    try {
        ReadChunk(tools, path, rows);
    } catch (const FileTools::Error&) {
        FUZZ_CHECK(!"the rows of a readable file can be read as one chunk");
    }
    return 0;
}
