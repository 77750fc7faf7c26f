// The tokenizer's state behind FileTools (ParseTools.h): the scratch buffer a word is collected
// in, the reading position in the tracked stream (line, and bytes consumed so that columns are
// counted in bytes), and the marks of the last token and statement that errors are placed at.
// Private to FileHandler: only its sources include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <string>
#include <string_view>

#include "FileHandler/ParseTools.h"

namespace synapsor {

struct FileTools::Tokenizer {
    using Error = FileToolsError;

    struct TextMark {
        long line = 0;
        long column = 0;
        bool atEnd = false;
    };

    // Starts counting afresh for the text in `in` (FileTools::BeginText).
    void BeginText(std::istream& in);
    // Gives error the position of the statement read last (FileTools::Locate).
    void Locate(Error& error) const;
    // The stream is positioned just after "/*"; leaves it after the matching "*/".
    void SkipComment(std::istream& in);
    // Collects the next token; the view points into scratch or at a static text and stays valid
    // until the next call.
    std::string_view NextTokenView(std::istream& in);
    // Consumes separators; returns the next byte without consuming it (end of file at the end).
    int SkipSeparators(std::streambuf& sb);
    void Track(std::istream& in) {
        if (&in != tracked)
            BeginText(in);
    }
    // The next byte to be consumed begins a token.
    void MarkToken() { tokenMark = {lineNo, static_cast<long>(consumed - lineStart) + 1, false}; }
    void MarkEnd() {
        MarkToken();
        tokenMark.atEnd = true;
    }
    // The last token is a static text, or the first length bytes of scratch.
    std::string_view SetToken(const char* text, std::size_t length) {
        tokenStatic = text;
        tokenLength = length;
        return std::string_view(text, length);
    }
    std::string_view SetScratchToken(std::size_t length) {
        tokenStatic = nullptr;
        tokenLength = length;
        return std::string_view(scratch, length);
    }
    std::string_view TokenView() const {
        return std::string_view(tokenStatic != nullptr ? tokenStatic : scratch, tokenLength);
    }
    // The statement just read is named by the last token (its keyword, or its bare word: that one
    // is not copied, as no token is read between a bare word and the next statement).
    void MarkStatementAtToken(bool bareWord) {
        statementMark = tokenMark;
        statementIsToken = bareWord;
        if (!bareWord)
            statementWord.assign(TokenView());
    }
    // Raise message at the last token, or at the statement read last.
    [[noreturn]] void Fail(const char* message, std::istream& in) { Fail(Error(message, &in, 0)); }
    [[noreturn]] void Fail(Error error);
    [[noreturn]] void FailAtStatement(Error error);

    char scratch[FileTools::kScratchSize];

    // Reading position: bytes consumed from the tracked stream, the line of the next byte, and
    // the count of bytes consumed before that line began. Only consumed bytes are counted, so a
    // byte looked at and left in the stream is counted once, when it is taken.
    const std::istream* tracked = nullptr;
    bool positionKnown = true;
    long lineNo = 1;
    std::int64_t consumed = 0;
    std::int64_t lineStart = 0;
    // The last token: its text and where it began.
    const char* tokenStatic = nullptr;
    std::size_t tokenLength = 0;
    TextMark tokenMark;
    // The statement read last: where its keyword or word began, and that word.
    TextMark statementMark;
    bool statementIsToken = false;
    std::string statementWord;
};

}  // namespace synapsor
