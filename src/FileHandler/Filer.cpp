#include "FileHandler/Filer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "Common/Assert.h"
#include "Common/StrCase.h"
#include "FileHandler/Tokenizer.h"

namespace synapsor {

namespace {

constexpr int kEof = std::char_traits<char>::eof();

// The shape of the rows, from the header. The counts are those of the values in each row; a
// part given as "Labels" has count 0 and a label list at the end of the row.
struct Layout {
    std::int32_t inputs = 0;
    std::int32_t expected = 0;
    std::int32_t generated = 0;
    std::int32_t errors = 0;
    std::int32_t rows = -1;
    bool labelsFirst = false;
    bool labelsSecond = false;

    bool HasFirst() const { return inputs != 0 || expected != 0 || labelsFirst; }
    bool HasSecond() const { return generated != 0 || errors != 0 || labelsSecond; }
    // Items of one row: every value and every label list takes at least one byte of the file.
    long long ItemsPerRow() const {
        return static_cast<long long>(inputs) + expected + generated + errors + labelsFirst +
               labelsSecond;
    }
};

// Bytes from the read position to the end of the file; unlimited when the file cannot be
// positioned, where only the end of input bounds the rows (the chunk reader refuses such files,
// the whole-file reader reads them into memory first).
long long Remaining(std::istream& in) {
    const std::streampos here = in.tellg();
    if (here == std::streampos(-1))
        return std::numeric_limits<long long>::max();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(here);
    if (end == std::streampos(-1) || !in) {
        in.clear();
        return std::numeric_limits<long long>::max();
    }
    return end > here ? static_cast<long long>(end - here) : 0;
}

// Reads "[DataSet]", the header and "[Data]"; returns the two block names for their end tags.
Layout OpenDataBlock(FileTools& tools, std::istream& in, std::string& dataSetName,
                     std::string& dataName) {
    Statement st = tools.ReadStatement({}, in);
    dataSetName = tools.ExpectBlockStart(st, in, "DATASET");
    Layout layout;
    // A header statement that is not accepted ends the header; the Data check below reports it.
    tools.ReadDataSetHeader(in, layout.inputs, layout.expected, layout.generated, layout.errors,
                            layout.rows, st);
    dataName = tools.ExpectBlockStart(st, in, "DATA");
    if (layout.rows < 0)
        throw FileTools::Error("[Rows = <integer>] missing in header", &in, 0);

    layout.labelsFirst = layout.expected == -1;
    layout.labelsSecond = layout.generated == -1;
    if (layout.expected < 0)
        layout.expected = 0;
    if (layout.generated < 0)
        layout.generated = 0;
    return layout;
}

// Every value and label list needs at least one byte, so a row count the rest of the file cannot
// hold is refused before any row storage is allocated for it.
void CheckRowsFit(std::istream& in, const Layout& layout, long long rows, const char* message) {
    const long long items = layout.ItemsPerRow();
    if (items > 0 && rows > Remaining(in) / items)
        throw FileTools::Error(message, &in, 0);
}

std::unique_ptr<Data> NewDataSet(std::int32_t rows, std::int32_t inputs, std::int32_t outputs,
                                 bool labels) {
    auto data = std::make_unique<Data>(rows, inputs, outputs, labels);
    data->MbrNdxCurrent = data->MbrNdxLast;
    return data;
}

// Reads count rows of the Data block into the data sets that exist; with keep, only the rows at
// those positions (ascending, from 0) are stored, the others are read and dropped.
void ReadRows(FileTools& tools, std::istream& in, const std::string& dataName, const Layout& layout,
              std::int32_t count, Data* first, Data* second,
              const std::vector<int>* keep = nullptr) {
    // Without rows the column counts are not bounded by the file: allocate nothing for them.
    if (count == 0 || (first == nullptr && second == nullptr))
        return;
    std::vector<double> inputs(layout.inputs), expected(layout.expected);
    std::vector<double> generated(layout.generated), errors(layout.errors);
    Statement st;  // reused for every value: no allocation per value
    TScanFileBuf* scan = dynamic_cast<TScanFileBuf*>(in.rdbuf());
    auto readValues = [&](std::vector<double>& values) {
        for (double& v : values) {
            if (scan != nullptr && tools.ReadPlainNumber(*scan, in, v))
                continue;
            tools.ReadStatement(dataName, in, false, st);
            v = tools.ExpectNumberToken(st, in);
        }
    };
    std::size_t nextKept = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        readValues(inputs);
        readValues(expected);
        readValues(generated);
        readValues(errors);
        bool kept = true;
        if (keep != nullptr) {
            kept = nextKept < keep->size() && (*keep)[nextKept] == i;
            nextKept += kept;
        }
        if (!kept) {
            // The label lists are read all the same: they are part of the row's text.
            if (layout.labelsFirst && first != nullptr)
                tools.ReadLabelList(in);
            if (layout.labelsSecond && second != nullptr)
                tools.ReadLabelList(in);
            continue;
        }
        if (first != nullptr) {
            if (layout.labelsFirst) {
                const TLabelList labels = tools.ReadLabelList(in);
                first->AppendRow(inputs.data(), expected.data(), &labels);
            } else {
                first->AppendRow(inputs.data(), expected.data(), nullptr);
            }
        }
        if (second != nullptr) {
            if (layout.labelsSecond) {
                const TLabelList labels = tools.ReadLabelList(in);
                second->AppendRow(generated.data(), errors.data(), &labels);
            } else {
                second->AppendRow(generated.data(), errors.data(), nullptr);
            }
        }
    }
}

// What the writers write: the row count and the header counts, -1 for a part written as label
// lists. DATA_MISMATCH when no data set is given or the two hold different numbers of rows.
struct WriteShape {
    std::int32_t rows = -1;
    std::int32_t inputs1 = 0, outputs1 = 0, inputs2 = 0, outputs2 = 0;
};

std::int32_t ShapeToWrite(const Data* first, const Data* second, WriteShape& shape) {
    if (first != nullptr) {
        shape.rows = first->MbrNdxDataRows;
        shape.inputs1 = first->MbrNdxInputs;
        shape.outputs1 = first->MbrNdxOutputs;
        if (first->MbrBlnLabels) {
            const int LngExpectedOutputs = first->MbrNdxOutputs;
            SYN_ASSERT(LngExpectedOutputs == 0);
            shape.outputs1 = -1;
        }
    }
    if (second != nullptr) {
        if (first == nullptr) {
            shape.rows = second->MbrNdxDataRows;
        } else if (second->MbrNdxDataRows != shape.rows) {
            return FileTools::DATA_MISMATCH;
        }
        shape.inputs2 = second->MbrNdxInputs;
        shape.outputs2 = second->MbrNdxOutputs;
        if (second->MbrBlnLabels) {
            const int LngCalculatedOutputs = second->MbrNdxInputs;
            SYN_ASSERT(LngCalculatedOutputs == 0);
            shape.inputs2 = -1;
        }
    }
    return shape.rows < 0 ? FileTools::DATA_MISMATCH : FileTools::SUCCESS;
}

// Writes a value as the stream's general notation with 15 significant digits ("%.15g").
void PutValue(std::ostream& out, double value) {
    char text[32];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text - 1, value, std::chars_format::general, 15);
    SYN_ASSERT(r.ec == std::errc());
    *r.ptr = ' ';
    out.write(text, r.ptr + 1 - text);
}

// The read buffer: 1 MB, or the file's size (plus the byte the stream buffer keeps back) when the
// file is smaller, so that reading a small file does not cost clearing a large buffer. A file
// whose size is unknown (a pipe) gets the full size.
std::size_t ReadBufferSize(const char* file) {
    constexpr std::uintmax_t kLargest = std::uintmax_t{1} << 20;
    constexpr std::uintmax_t kSmallest = 4096;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::is_regular_file(file, ec)
                                    ? std::filesystem::file_size(file, ec)
                                    : kLargest;
    if (ec)
        return static_cast<std::size_t>(kLargest);
    return static_cast<std::size_t>(std::clamp(size + 1, kSmallest, kLargest));
}

std::int32_t Finish(std::ofstream& out) {
    out.close();
    return out ? FileTools::SUCCESS : FileTools::FILE_WRITE_FAILED;
}

}  // namespace

std::int32_t FileTools::LoadDataSet(const char* file, std::unique_ptr<Data>& out) {
    std::unique_ptr<Data> second;
    const std::int32_t err = ReadDataSetFile(file, out, second);
    if (err != SUCCESS)
        return err;
    return second != nullptr ? FORMAT_ERROR : SUCCESS;
}

std::int32_t FileTools::ReadDataSetFile(const char* file, std::unique_ptr<Data>& first,
                                        std::unique_ptr<Data>& second,
                                        std::unique_ptr<TKQstructure> error) {
    error.reset();
    return ReadDataSetRows(file, {}, first, second, nullptr);
}

std::int32_t FileTools::LoadDataSetRows(const char* file, const TRowSelector& select,
                                        std::unique_ptr<Data>& out, std::int32_t* fileRows) {
    std::unique_ptr<Data> second;
    const std::int32_t err = ReadDataSetRows(file, select, out, second, fileRows);
    if (err != SUCCESS)
        return err;
    return second != nullptr ? FORMAT_ERROR : SUCCESS;
}

std::int32_t FileTools::ReadDataSetRows(const char* file, const TRowSelector& select,
                                        std::unique_ptr<Data>& first, std::unique_ptr<Data>& second,
                                        std::int32_t* fileRows) {
    // Read through a buffer the value reader may scan in place, in large blocks.
    std::vector<char> block(ReadBufferSize(file));
    TScanFileBuf fileBuffer;
    fileBuffer.pubsetbuf(block.data(), static_cast<std::streamsize>(block.size()));
    if (fileBuffer.open(file, std::ios::in | std::ios::binary) == nullptr)
        return FILE_OPEN_FAILED;
    std::istream opened(&fileBuffer);
    first.reset();
    second.reset();

    // A file that cannot be positioned (a pipe) has no end to check the row count against until
    // it has been read: its text is read into memory first, so that the check below applies.
    const bool positionable = opened.tellg() != std::streampos(-1);
    std::istringstream buffered;
    if (!positionable) {
        std::ostringstream text;
        text << opened.rdbuf();
        buffered.str(text.str());
    }
    std::istream& in = positionable ? static_cast<std::istream&>(opened) : buffered;

    BeginText(in);
    try {
        std::string dataSetName, dataName;
        const Layout layout = OpenDataBlock(*this, in, dataSetName, dataName);
        if (layout.HasFirst() || layout.HasSecond()) {
            CheckRowsFit(in, layout, layout.rows,
                         "[Rows] in header exceeds the values in the file");
        }
        if (fileRows != nullptr)
            *fileRows = layout.rows;
        // Without a selection every row is kept and the file is read to its end. With one, only
        // the selected rows take memory, and reading stops after the last of them unless that
        // is the file's last row: the rows after it are another reader's business.
        std::vector<int> keep;
        std::int32_t read = layout.rows;
        if (select) {
            keep = select(layout.rows);
            SYN_ASSERT(std::is_sorted(keep.begin(), keep.end()) &&
                       (keep.empty() || (keep.front() >= 0 && keep.back() < layout.rows)));
            read = keep.empty() ? 0 : keep.back() + 1;
        }
        const std::int32_t held = select ? static_cast<std::int32_t>(keep.size()) : layout.rows;
        if (layout.HasFirst()) {
            first = NewDataSet(held, layout.inputs, layout.expected, layout.labelsFirst);
        }
        if (layout.HasSecond()) {
            second = NewDataSet(held, layout.generated, layout.errors, layout.labelsSecond);
        }
        ReadRows(*this, in, dataName, layout, read, first.get(), second.get(),
                 select ? &keep : nullptr);

        if (read == layout.rows) {
            ExpectEndTag(ReadStatement(dataName, in), in);
            ExpectEndTag(ReadStatement(dataSetName, in), in);
            ExpectEndTag(ReadStatement({}, in), in);
        }
    } catch (Error& e) {
        Locate(e);
        e.file = file;
        throw;
    }
    return SUCCESS;
}

std::int32_t FileTools::ReadDataSetHeader(std::istream& in, std::int32_t& inputs,
                                          std::int32_t& expectedOutputs,
                                          std::int32_t& generatedOutputs, std::int32_t& errors,
                                          std::int32_t& rows, Statement& last) {
    inputs = expectedOutputs = generatedOutputs = errors = 0;
    rows = -1;
    int order = 0;  // the last of Inputs, ExpectedOutputs, GeneratedOutputs, Error (1-4) read
    for (ReadStatement({}, in, false, last); last.kind == StatementKind::Assignment;
         ReadStatement({}, in, false, last)) {
        if (last.open)
            return FORMAT_ERROR;
        const char* keyword = last.keyword.c_str();
        const std::int32_t n =
            strcasecmp(last.value.c_str(), "LABELS") == 0 ? -1 : ParseInteger(in, last.value);
        if (strcasecmp(keyword, "INPUTS") == 0 && order < 1) {
            if (n < 0)
                tokenizer->Fail("No labels in inputs", in);
            inputs = n;
            order = 1;
        } else if (strcasecmp(keyword, "EXPECTEDOUTPUTS") == 0 && order < 2) {
            expectedOutputs = n;
            order = 2;
        } else if (strcasecmp(keyword, "GENERATEDOUTPUTS") == 0 && order < 3) {
            generatedOutputs = n;
            order = 3;
        } else if (strcasecmp(keyword, "ERROR") == 0 && order < 4) {
            if (n < 0)
                tokenizer->Fail("No labels in inputs", in);
            errors = n;
            order = 4;
        } else if (strcasecmp(keyword, "ROWS") == 0) {
            if (n < 0)
                tokenizer->Fail("No labels in inputs", in);
            rows = n;
        } else {
            return FORMAT_ERROR;
        }
    }
    return SUCCESS;
}

TLabelList FileTools::ReadLabelList(std::istream& in) {
    tokenizer->Track(in);
    TLabelList list;
    std::streambuf* sb = in.rdbuf();
    SYN_ASSERT(sb != nullptr);
    // Separators and comments may precede the list.
    int c = tokenizer->SkipSeparators(*sb);
    while (c == '/') {
        tokenizer->MarkToken();
        sb->sbumpc();
        ++tokenizer->consumed;
        if (sb->sgetc() != '*') {
            tokenizer->SetToken("/", 1);
            tokenizer->Fail("Label list expected: '[' missing", in);
        }
        sb->sbumpc();
        ++tokenizer->consumed;
        tokenizer->SetToken("/*", 2);
        SkipComment(in);
        c = tokenizer->SkipSeparators(*sb);
    }
    if (c == kEof) {
        tokenizer->MarkEnd();
        tokenizer->SetToken("", 0);
        tokenizer->Fail("Unexpected end of file in label list", in);
    }
    if (c != '[') {
        tokenizer->NextTokenView(in);  // what stands there instead, for the message
        tokenizer->Fail("Label list expected: '[' missing", in);
    }
    sb->sbumpc();
    ++tokenizer->consumed;
    c = tokenizer->SkipSeparators(*sb);
    if (c == ']') {
        sb->sbumpc();
        ++tokenizer->consumed;
        return list;
    }
    Statement st;
    do {
        ReadStatement({}, in, true, st);
        if (st.kind == StatementKind::EndOfBlock)
            tokenizer->Fail("Unexpected end of file in label list", in);
        const double value = st.kind == StatementKind::Assignment ? ParseNumber(in, st.value) : 1.0;
        list.AddLabel(st.keyword.c_str(), value);
    } while (st.open);
    return list;
}

std::int32_t FileTools::LoadDataSetChunk(const char* file, long& offset, std::int32_t count,
                                         std::unique_ptr<Data>& first) {
    std::unique_ptr<Data> second;
    return ReadDataSetChunk(file, offset, count, first, second);
}

std::int32_t FileTools::ReadDataSetChunk(const char* file, long& offset, std::int32_t count,
                                         std::unique_ptr<Data>& first,
                                         std::unique_ptr<Data>& second) {
    SYN_ASSERT(offset >= 0 && count >= 0);
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return FILE_OPEN_FAILED;
    first.reset();
    second.reset();

    BeginText(in);
    try {
        std::string dataSetName, dataName;
        const Layout layout = OpenDataBlock(*this, in, dataSetName, dataName);
        const std::streampos start = in.tellg();
        in.seekg(start + static_cast<std::streamoff>(offset));
        if (start == std::streampos(-1) || !in)
            tokenizer->Fail("Data set file cannot be positioned", in);
        // Lines are not counted over the bytes skipped: faults in the rows carry no position.
        if (offset != 0)
            ForgetPosition();
        if (layout.HasFirst() || layout.HasSecond()) {
            CheckRowsFit(in, layout, count, "Rows requested exceed the values left in the file");
        }
        if (layout.HasFirst()) {
            first = NewDataSet(count, layout.inputs, layout.expected, layout.labelsFirst);
        }
        if (layout.HasSecond()) {
            second = NewDataSet(count, layout.generated, layout.errors, layout.labelsSecond);
        }
        ReadRows(*this, in, dataName, layout, count, first.get(), second.get());
        offset = static_cast<long>(in.tellg() - start);
    } catch (Error& e) {
        Locate(e);
        e.file = file;
        throw;
    }
    return SUCCESS;
}

std::int32_t FileTools::WriteDataSetFile(const char* file, Data* first, Data* second,
                                         std::unique_ptr<TKQstructure> error) {
    error.reset();
    WriteShape shape;
    if (ShapeToWrite(first, second, shape) != SUCCESS)
        return DATA_MISMATCH;

    std::int32_t err = WriteDataSetHeader(file, shape.inputs1, shape.outputs1, shape.inputs2,
                                          shape.outputs2, shape.rows);
    if (err == SUCCESS)
        err = WriteDataSetRows(file, first, second);
    if (err == SUCCESS)
        err = WriteDataSetTrailer(file);
    return err;
}

std::int32_t FileTools::WriteDataSet(std::ostream& out, Data* first, Data* second) {
    WriteShape shape;
    if (ShapeToWrite(first, second, shape) != SUCCESS)
        return DATA_MISMATCH;
    std::int32_t err = WriteDataSetHeader(out, shape.inputs1, shape.outputs1, shape.inputs2,
                                          shape.outputs2, shape.rows);
    if (err == SUCCESS)
        err = WriteDataSetRows(out, first, second);
    if (err == SUCCESS)
        err = WriteDataSetTrailer(out);
    return err;
}

std::int32_t FileTools::WriteDataSetHeader(const char* file, std::int32_t inputs,
                                           std::int32_t expectedOutputs,
                                           std::int32_t generatedOutputs, std::int32_t errors,
                                           std::int32_t rows) {
    if (rows < 0)
        return DATA_MISMATCH;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out.is_open())
        return FILE_WRITE_FAILED;
    WriteDataSetHeader(out, inputs, expectedOutputs, generatedOutputs, errors, rows);
    return Finish(out);
}

std::int32_t FileTools::WriteDataSetHeader(std::ostream& out, std::int32_t inputs,
                                           std::int32_t expectedOutputs,
                                           std::int32_t generatedOutputs, std::int32_t errors,
                                           std::int32_t rows) {
    if (rows < 0)
        return DATA_MISMATCH;
    auto countOrLabels = [&](const char* name, std::int32_t n) {
        if (n == -1) {
            WriteStringStatement(out, name, "Labels");
        } else {
            WriteIntegerStatement(out, name, n);
        }
    };
    WriteFormatVersion(out);
    WriteBlockStart(out, "DataSet");
    WriteIntegerStatement(out, "Rows", rows);
    WriteIntegerStatement(out, "Inputs", inputs);
    countOrLabels("ExpectedOutputs", expectedOutputs);
    countOrLabels("GeneratedOutputs", generatedOutputs);
    WriteIntegerStatement(out, "Error", errors);
    WriteNewLine(out);
    WriteBlockStart(out, "Data");
    return out ? SUCCESS : FILE_WRITE_FAILED;
}

std::int32_t FileTools::WriteDataSetRows(const char* file, Data* first, Data* second,
                                         std::unique_ptr<TKQstructure> error) {
    error.reset();
    WriteShape shape;
    if (ShapeToWrite(first, second, shape) != SUCCESS)
        return DATA_MISMATCH;
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out.is_open())
        return FILE_WRITE_FAILED;
    WriteDataSetRows(out, first, second);
    return Finish(out);
}

std::int32_t FileTools::WriteDataSetRows(std::ostream& out, Data* first, Data* second) {
    WriteShape shape;
    if (ShapeToWrite(first, second, shape) != SUCCESS)
        return DATA_MISMATCH;
    const std::int32_t rows = shape.rows;
    // Rows go out oldest first; for a data set that never wrapped, that is slot order.
    auto slotOf = [](const Data& data, std::int32_t i) {
        return (data.GetFirst() + i) % data.MbrNdxRows;
    };
    for (std::int32_t i = 0; i < rows && out; ++i) {
        double v = 0.0;
        if (first != nullptr) {
            const int row = slotOf(*first, i);
            for (int c = 0; c < first->MbrNdxInputs; ++c) {
                first->GetInputDatum(row, c, v);
                PutValue(out, v);
            }
            out << "  ";
            for (int c = 0; c < first->MbrNdxOutputs; ++c) {
                first->GetOutputDatum(row, c, v);
                PutValue(out, v);
            }
        }
        if (second != nullptr) {
            const int row = slotOf(*second, i);
            out << "  ";
            for (int c = 0; c < second->MbrNdxInputs; ++c) {
                second->GetInputDatum(row, c, v);
                PutValue(out, v);
            }
            out << "  ";
            for (int c = 0; c < second->MbrNdxOutputs; ++c) {
                second->GetOutputDatum(row, c, v);
                PutValue(out, v);
            }
        }
        // Label lists close the row, first data set's before the second's: that is where the
        // reader looks for them, whatever the other counts are.
        TLabelList* labels = nullptr;
        if (first != nullptr && first->MbrBlnLabels) {
            first->GetLabels(slotOf(*first, i), &labels);
            WriteLabelList(out, labels);
        }
        if (second != nullptr && second->MbrBlnLabels) {
            second->GetLabels(slotOf(*second, i), &labels);
            WriteLabelList(out, labels);
        }
        WriteNewLine(out);
    }
    return out ? SUCCESS : FILE_WRITE_FAILED;
}

std::int32_t FileTools::WriteDataSetTrailer(const char* file) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out.is_open())
        return FILE_WRITE_FAILED;
    WriteDataSetTrailer(out);
    return Finish(out);
}

std::int32_t FileTools::WriteDataSetTrailer(std::ostream& out) {
    WriteEndTag(out, "Data");
    WriteNewLine(out);
    WriteEndTag(out, "DataSet");
    return out ? SUCCESS : FILE_WRITE_FAILED;
}

void FileTools::WriteLabelList(std::ostream& out, const TLabelList* list) {
    out << '[';
    if (list != nullptr) {
        for (const TLabel& label : list->labels) {
            if (label.value == 1.0) {
                WriteBlockStart(out, label.name, false);
            } else {
                WriteNumberStatement(out, label.name, label.value, 9, false);
            }
        }
    }
    out << "] ";
}

std::unique_ptr<TKQstructure> FileTools::ProbeFileHeader(const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return MakeError("file-read-error");
    BeginText(in);
    const std::string name = ExpectBlockStart(ReadStatement({}, in), in);

    if (strcasecmp(name.c_str(), "DATASET") == 0) {
        std::int32_t inputs, expected, generated, errors, rows;
        Statement last;
        // A header without its Rows statement is as unusable as one with a rejected statement.
        if (ReadDataSetHeader(in, inputs, expected, generated, errors, rows, last) != SUCCESS ||
            rows < 0) {
            return MakeError("bad-header");
        }
        auto report = std::make_unique<TKQstructure>("data");
        report->SetInteger("rows", rows);
        report->SetInteger("inputs", inputs);
        report->SetInteger("actual-outputs", expected);
        report->SetInteger("calc-outputs", generated);
        report->SetInteger("errors", errors);
        return report;
    }
    // Network files begin with [NeuralNetwork]; the short name is accepted as well.
    if (strcasecmp(name.c_str(), "NETWORK") == 0 ||
        strcasecmp(name.c_str(), "NEURALNETWORK") == 0) {
        return std::make_unique<TKQstructure>("network");
    }
    auto report = MakeError("unknown-header");
    report->SetString("header", name.c_str());
    return report;
}

}  // namespace synapsor
