#include "FileHandler/ParseTools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <string>

#include "Common/Assert.h"
#include "Common/StrCase.h"
#include "FileHandler/Tokenizer.h"

namespace synapsor {

namespace {

enum CharClass : unsigned char { kOrdinary = 0, kSeparator = 1, kSpecial = 2 };

// Bytes 0-32, 127-255 and the comma separate; "[]/*=<>" are special; the rest form words.
constexpr std::array<unsigned char, 256> MakeClassTable() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = (c <= 32 || c >= 127 || c == ',') ? kSeparator : kOrdinary;
    }
    for (const char* s = "[]/*=<>"; *s != '\0'; ++s)
        table[static_cast<unsigned char>(*s)] = kSpecial;
    return table;
}
constexpr std::array<unsigned char, 256> kClass = MakeClassTable();

constexpr int kEof = std::char_traits<char>::eof();

inline unsigned char ClassOf(int c) {
    return kClass[static_cast<unsigned char>(c)];
}

// The tokenizer reads the stream buffer directly: one virtual-free inline call per byte, no
// sentry per character. Peeking with sgetc avoids any reliance on putting characters back.
std::streambuf& Buffer(std::istream& in) {
    std::streambuf* sb = in.rdbuf();
    SYN_ASSERT(sb != nullptr);
    return *sb;
}

// Case-insensitive equality with the same upper-casing as strcasecmp, on texts that need not be
// zero-terminated.
bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// For a number text that did not fit a double (decimal, or hexadecimal after its "0x"): true
// when its magnitude is large (overflow), false when it is tiny (underflow).
bool IsOverflow(const char* p, const char* end, bool hex) {
    const auto isDigit = hex ? IsHexDigit : IsDigit;
    long magnitude = 0;  // digit position of the first significant digit
    bool significant = false;
    while (p < end && isDigit(*p)) {
        if (*p != '0' || significant) {
            if (significant)
                ++magnitude;
            significant = true;
        }
        ++p;
    }
    if (p < end && *p == '.') {
        ++p;
        long zeros = 0;
        while (p < end && isDigit(*p)) {
            if (!significant) {
                if (*p == '0') {
                    ++zeros;
                } else {
                    significant = true;
                    magnitude = -(zeros + 1);
                }
            }
            ++p;
        }
    }
    long exponent = 0;  // decimal, or binary after "p" in hexadecimal
    const char mark = hex ? 'p' : 'e';
    if (p < end && (*p == mark || *p == mark - 'a' + 'A')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        while (p < end && IsDigit(*p)) {
            if (exponent < 100000000)
                exponent = exponent * 10 + (*p - '0');
            ++p;
        }
        if (negative)
            exponent = -exponent;
    }
    return (hex ? 4 * magnitude : magnitude) + exponent > 0;
}

void Put(std::ostream& out, std::string_view text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

FileTools::FileTools() : tokenizer(std::make_unique<Tokenizer>()) {}
FileTools::~FileTools() = default;
FileTools::FileTools(FileTools&&) noexcept = default;
FileTools& FileTools::operator=(FileTools&&) noexcept = default;

void FileTools::BeginText(std::istream& in) {
    tokenizer->BeginText(in);
}

void FileTools::ForgetPosition() {
    tokenizer->positionKnown = false;
}

void FileTools::Locate(Error& error) const {
    tokenizer->Locate(error);
}

void FileTools::SkipComment(std::istream& in) {
    tokenizer->SkipComment(in);
}

void FileTools::Tokenizer::BeginText(std::istream& in) {
    tracked = &in;
    positionKnown = true;
    lineNo = 1;
    consumed = 0;
    lineStart = 0;
    SetToken("", 0);
    tokenMark = {};
    statementMark = {};
    statementIsToken = false;
    statementWord.clear();
    // A byte-order mark is not text: the columns of the first line count from after it. Its
    // bytes are separators anyway, so a partial mark is consumed as such.
    static constexpr int kMark[] = {0xEF, 0xBB, 0xBF};
    std::streambuf& sb = Buffer(in);
    int n = 0;
    while (n < 3 && sb.sgetc() == kMark[n]) {
        sb.sbumpc();
        ++n;
    }
    consumed = n;
    if (n == 3)
        lineStart = n;
}

void FileTools::Tokenizer::Locate(Error& error) const {
    if (!positionKnown || error.HasPosition())
        return;
    error.line = statementMark.line;
    error.column = statementMark.column;
    error.atEnd = statementMark.atEnd;
    error.token = statementIsToken ? std::string(TokenView()) : statementWord;
}

void FileTools::Tokenizer::Fail(Error error) {
    if (positionKnown) {
        error.line = tokenMark.line;
        error.column = tokenMark.column;
        error.atEnd = tokenMark.atEnd;
        error.token.assign(TokenView());
    }
    throw error;
}

void FileTools::Tokenizer::FailAtStatement(Error error) {
    Locate(error);
    throw error;
}

int FileTools::Tokenizer::SkipSeparators(std::streambuf& sb) {
    int c = sb.sgetc();
    while (c != kEof && ClassOf(c) == kSeparator) {
        ++consumed;
        if (c == '\n') {
            ++lineNo;
            lineStart = consumed;
        }
        c = sb.snextc();
    }
    return c;
}

std::string_view FileTools::Tokenizer::NextTokenView(std::istream& in) {
    static constexpr char kSpecials[] = "[]/*=<>";
    Track(in);
    std::streambuf& sb = Buffer(in);
    for (;;) {
        int c = SkipSeparators(sb);
        if (c == kEof) {
            MarkEnd();
            return SetToken("", 0);
        }
        MarkToken();
        sb.sbumpc();
        ++consumed;

        if (ClassOf(c) == kSpecial) {
            const int follower = sb.sgetc();
            if (c == '/' && follower == '*') {
                sb.sbumpc();
                ++consumed;
                SetToken("/*", 2);  // an unterminated comment is reported at its opener
                SkipComment(in);
                continue;
            }
            if (c == '[' && follower == '~') {
                sb.sbumpc();
                ++consumed;
                return SetToken("[~", 2);
            }
            return SetToken(std::strchr(kSpecials, c), 1);
        }

        // Only the word's length is counted per byte; the position is brought up to date once
        // the word is complete.
        std::size_t n = 0;
        scratch[n++] = static_cast<char>(c);
        for (c = sb.sgetc(); c != kEof; c = sb.sgetc()) {
            const unsigned char cls = ClassOf(c);
            if (cls == kSpecial)
                break;  // left in the stream for the next token
            sb.sbumpc();
            if (cls == kSeparator) {
                consumed += 1;
                if (c == '\n') {
                    ++lineNo;
                    lineStart = consumed + static_cast<std::int64_t>(n) - 1;
                }
                break;
            }
            if (n == sizeof scratch) {
                consumed += static_cast<std::int64_t>(n) - 1;
                SetScratchToken(n);
                Fail("Word too long", in);
            }
            scratch[n++] = static_cast<char>(c);
        }
        consumed += static_cast<std::int64_t>(n) - 1;
        return SetScratchToken(n);
    }
}

std::string FileTools::NextToken(std::istream& in) {
    return std::string(tokenizer->NextTokenView(in));
}

void FileTools::Tokenizer::SkipComment(std::istream& in) {
    // Nesting is counted instead of recursing, so a run of openers cannot exhaust the stack.
    // After an inner comment closes, the previous character counts as the "*" that opened it.
    Track(in);
    std::streambuf& sb = Buffer(in);
    long depth = 1;
    int previous = ' ';
    for (;;) {
        const int c = sb.sbumpc();
        if (c == kEof)
            Fail("Unexpected end of file during comment", in);
        ++consumed;
        if (c == '\n') {
            ++lineNo;
            lineStart = consumed;
        }
        if (previous == '*' && c == '/') {
            if (--depth == 0)
                return;
            previous = '*';
        } else if (previous == '/' && c == '*') {
            ++depth;
            previous = ' ';
        } else {
            previous = c;
        }
    }
}

Statement FileTools::ReadStatement(std::string_view blockdef, std::istream& in, bool continuation) {
    Statement st;
    ReadStatement(blockdef, in, continuation, st);
    return st;
}

void FileTools::ReadStatement(std::string_view blockdef, std::istream& in, bool continuation,
                              Statement& out) {
    std::streambuf& sb = Buffer(in);
    out.keyword.clear();
    out.value.clear();
    out.open = false;
    for (;;) {  // repeats only after a skipped format-version line
        std::string_view t = tokenizer->NextTokenView(in);
        if (t.empty()) {
            if (!blockdef.empty())
                tokenizer->Fail("Unexpected end of file", in);
            out.kind = StatementKind::EndOfBlock;
            tokenizer->MarkStatementAtToken(false);
            return;
        }

        if (t == "[" || continuation) {
            if (!continuation)
                t = tokenizer->NextTokenView(in);
            if (t.empty())
                tokenizer->Fail("Unexpected end of file", in);
            if (ClassOf(t[0]) == kSpecial)
                tokenizer->Fail("Unexpected special character", in);
            out.keyword.assign(t);
            tokenizer->MarkStatementAtToken(false);

            // Between keyword, "=" and "]" only separators may stand (no comments).
            int c = tokenizer->SkipSeparators(sb);
            if (c == ']') {
                sb.sbumpc();
                ++tokenizer->consumed;
                out.kind = StatementKind::Tag;
                return;
            }
            if (c != '=') {
                out.kind = StatementKind::Tag;
                out.open = true;
                return;
            }
            sb.sbumpc();
            ++tokenizer->consumed;
            t = tokenizer->NextTokenView(in);
            if (t.empty())
                tokenizer->Fail("Unexpected end of file", in);
            if (ClassOf(t[0]) == kSpecial)
                tokenizer->Fail("Unexpected special character", in);
            out.value.assign(t);
            out.kind = StatementKind::Assignment;

            c = tokenizer->SkipSeparators(sb);
            if (c != ']') {
                out.open = true;
                return;
            }
            sb.sbumpc();
            ++tokenizer->consumed;
            if (!continuation && strcasecmp(out.keyword.c_str(), "FORMATVERSION") == 0) {
                if (ParseNumber(in, out.value) > 1.0)
                    tokenizer->Fail("Illegal Format Version", in);
                out.keyword.clear();
                out.value.clear();
                continue;
            }
            return;
        }

        if (t == "[~") {
            const Tokenizer::TextMark opener = tokenizer->tokenMark;
            if (blockdef.empty())
                tokenizer->Fail("End tag outside any block", in);
            if (!SameWord(tokenizer->NextTokenView(in), blockdef))
                tokenizer->Fail("Unexpected End Tag", in);
            if (tokenizer->NextTokenView(in) != "]")
                tokenizer->Fail("Expected ']'", in);
            out.kind = StatementKind::EndOfBlock;
            tokenizer->statementMark = opener;
            tokenizer->statementIsToken = false;
            tokenizer->statementWord.assign("[~");
            tokenizer->statementWord.append(blockdef);
            tokenizer->statementWord.append("]");
            return;
        }

        if (t == "]")
            tokenizer->Fail("Unexpected ']' where a statement should begin", in);
        out.kind = StatementKind::Token;
        out.keyword.assign(t);
        tokenizer->MarkStatementAtToken(true);
        return;
    }
}

std::string FileTools::ExpectBlockStart(const Statement& st, std::istream& in,
                                        std::string_view name) {
    if (name.empty()) {
        if (st.kind != StatementKind::Tag)
            tokenizer->FailAtStatement(Error("start of block expected", &in, 0));
    } else if (st.kind != StatementKind::Tag || !SameWord(st.keyword, name)) {
        tokenizer->FailAtStatement(Error("[" + std::string(name) + "] expected", &in, 0));
    }
    return st.keyword;
}

void FileTools::ExpectEndTag(const Statement& st, std::istream& in) {
    if (st.kind != StatementKind::EndOfBlock)
        tokenizer->FailAtStatement(Error("End Tag expected", &in, 0));
}

std::string FileTools::ExpectStringStatement(const Statement& st, std::istream& in,
                                             std::string_view name) {
    if (st.kind != StatementKind::Assignment || !SameWord(st.keyword, name)) {
        // The keyword found follows the message directly; an end of block has none.
        tokenizer->FailAtStatement(
            Error("[" + std::string(name) + " = <string>] expected" + st.keyword, &in, 0));
    }
    return st.value;
}

std::int32_t FileTools::ExpectIntegerStatement(const Statement& st, std::istream& in,
                                               std::string_view name) {
    if (st.kind != StatementKind::Assignment || !SameWord(st.keyword, name)) {
        tokenizer->FailAtStatement(
            Error("[" + std::string(name) + " = <integer>] expected", &in, 0));
    }
    return ParseInteger(in, st.value);
}

double FileTools::ExpectNumberStatement(const Statement& st, std::istream& in,
                                        std::string_view name) {
    if (st.kind != StatementKind::Assignment || !SameWord(st.keyword, name)) {
        tokenizer->FailAtStatement(
            Error("[" + std::string(name) + " = <number>] expected", &in, 0));
    }
    return ParseNumber(in, st.value);
}

double FileTools::ExpectNumberToken(const Statement& st, std::istream& in) {
    if (st.kind != StatementKind::Token)
        tokenizer->FailAtStatement(Error("Token (number) expected", &in, 0));
    return ParseNumber(in, st.keyword);
}

std::int32_t FileTools::ParseInteger(std::istream& in, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsScanSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size() || !IsDigit(text[i]))
        tokenizer->Fail("integer-expected", in);

    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit)
            tokenizer->Fail("integer-out-of-range", in);
    }
    if (!negative && magnitude == kLimit)
        tokenizer->Fail("integer-out-of-range", in);
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool FileTools::ReadPlainNumber(TScanFileBuf& buf, std::istream& in, double& value) {
    const char* start = buf.Next();
    const char* end = buf.End();
    const char* p = start;
    while (p < end && ClassOf(*p) == kSeparator)
        ++p;
    const char* word = p;
    while (p < end && ClassOf(*p) == kOrdinary)
        ++p;
    // A word that may go on past the buffer, or a bracket, comment or end of file, takes the
    // general route (which also reports a word that is too long).
    if (p == word || p == end || static_cast<std::size_t>(p - word) > sizeof tokenizer->scratch)
        return false;
    // The position is kept as the tokenizer keeps it, so that a fault found later points at the
    // same place whichever route read the values before it.
    tokenizer->Track(in);
    for (const char* q = start; q < word; ++q) {
        if (*q == '\n') {
            ++tokenizer->lineNo;
            tokenizer->lineStart = tokenizer->consumed + (q - start) + 1;
        }
    }
    tokenizer->consumed += word - start;
    tokenizer->MarkToken();
    const std::size_t length = static_cast<std::size_t>(p - word);
    std::memcpy(tokenizer->scratch, word, length);
    tokenizer->SetScratchToken(length);
    tokenizer->MarkStatementAtToken(true);
    tokenizer->consumed += static_cast<std::int64_t>(length);
    // The tokenizer consumes the separator that ends a word but leaves a special character.
    const char* next = p;
    if (ClassOf(*p) == kSeparator) {
        ++next;
        ++tokenizer->consumed;
        if (*p == '\n') {
            ++tokenizer->lineNo;
            tokenizer->lineStart = tokenizer->consumed;
        }
    }
    buf.Skip(next - start);
    value = ParseNumber(in, std::string_view(tokenizer->scratch, length));
    return true;
}

double FileTools::ParseNumber(std::istream& in, std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && IsScanSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    if (p == end || *p == '+' || *p == '-')
        tokenizer->Fail("number-expected", in);

    // Hexadecimal numbers ("0x1.8p3") are read as the C library reads them; "0x" without a
    // hexadecimal digit is no number.
    const bool hex = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) {
        p += 2;
        if (p == end || *p == '+' || *p == '-')
            tokenizer->Fail("number-expected", in);
    }

    // from_chars always uses "." as the decimal point, whatever the locale.
    double value = 0.0;
    const std::from_chars_result r =
        std::from_chars(p, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (r.ec == std::errc::invalid_argument)
        tokenizer->Fail("number-expected", in);
    if (r.ec == std::errc::result_out_of_range) {
        if (IsOverflow(p, r.ptr, hex))
            tokenizer->Fail("number-out-of-range", in);
        value = 0.0;
    }
    // The words "inf", "infinity" and "nan" are read as the C library reads them: a network
    // whose training diverged is written with such weights and must read back as written.
    return negative ? -value : value;
}

void FileTools::WriteStatement(StatementKind kind, std::string_view keyword, std::string_view value,
                               std::ostream& out, bool bracket) {
    switch (kind) {
        case StatementKind::FormatVersionLine:
            SYN_ASSERT(bracket);
            Put(out, "[FormatVersion = 1.0]");
            WriteNewLine(out);
            WriteNewLine(out);
            return;
        case StatementKind::EndOfBlock:
            if (keyword.empty())
                return;
            SYN_ASSERT(bracket);
            Put(out, "[~");
            Put(out, keyword);
            Put(out, "]");
            WriteNewLine(out);
            return;
        case StatementKind::Tag:
            if (bracket) {
                Put(out, "[");
                Put(out, keyword);
                Put(out, "]");
                WriteNewLine(out);
            } else {
                Put(out, keyword);
                Put(out, " ");
            }
            return;
        case StatementKind::Assignment:
            if (bracket) {
                Put(out, "[");
                Put(out, keyword);
                Put(out, " = ");
                Put(out, value);
                Put(out, "]");
                WriteNewLine(out);
            } else {
                Put(out, keyword);
                Put(out, "=");
                Put(out, value);
                Put(out, " ");
            }
            return;
        case StatementKind::Token:
            Put(out, keyword);
            Put(out, " ");
            return;
    }
    SYN_ASSERT(!"WriteStatement: unknown statement kind");
}

void FileTools::WriteFormatVersion(std::ostream& out) {
    WriteStatement(StatementKind::FormatVersionLine, {}, {}, out, true);
}

void FileTools::WriteBlockStart(std::ostream& out, std::string_view name, bool bracket) {
    WriteStatement(StatementKind::Tag, name, {}, out, bracket);
}

void FileTools::WriteEndTag(std::ostream& out, std::string_view name) {
    WriteStatement(StatementKind::EndOfBlock, name, {}, out, true);
}

void FileTools::WriteStringStatement(std::ostream& out, std::string_view name,
                                     std::string_view value, bool bracket) {
    WriteStatement(StatementKind::Assignment, name, value, out, bracket);
}

void FileTools::WriteIntegerStatement(std::ostream& out, std::string_view name, std::int32_t value,
                                      bool bracket) {
    char text[16];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    WriteStatement(StatementKind::Assignment, name, std::string_view(text, r.ptr - text), out,
                   bracket);
}

void FileTools::WriteNumberStatement(std::ostream& out, std::string_view name, double value,
                                     int precision, bool bracket) {
    if (precision < 0)
        precision = 6;  // as "%.*f" treats a negative precision
    // Room for the 309 integer digits of the largest double, sign, point and the fraction; the
    // stack buffer serves every everyday precision without allocating.
    const std::size_t size = static_cast<std::size_t>(precision) + 320;
    char small[400];
    std::string large(size > sizeof small ? size : 0, '\0');
    char* text = size > sizeof small ? large.data() : small;
    const std::to_chars_result r =
        std::to_chars(text, text + size, value, std::chars_format::fixed, precision);
    SYN_ASSERT(r.ec == std::errc());
    WriteStatement(StatementKind::Assignment, name, std::string_view(text, r.ptr - text), out,
                   bracket);
}

void FileTools::WriteNewLine(std::ostream& out) {
    out.put('\n');
    out.flush();
}

std::string OpenFailureReason(const char* file) {
    errno = 0;
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno != 0 ? errno : EIO);
    // It opens now: it is a directory, which opens but cannot be read, or it was not there or not
    // readable a moment ago.
    struct stat st;
    const bool directory = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return std::strerror(directory ? EISDIR : EIO);
}

}  // namespace synapsor
