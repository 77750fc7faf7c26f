// TKQstructure: a small tree of words in the style of KQML messages. A head word is followed by
// keyword/value pairs whose values are again structures; a structure without entries is a leaf
// whose head is the value itself. A structure owns its head, keywords and values recursively;
// a value handed to SetValue belongs to the structure from then on. Keywords are unique under
// synapsor::strcasecmp. Typed conversions and required lookups throw TKQstructure::Error, whose
// report is itself a structure with head "error" and a "type" entry.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace synapsor {

class TKQstructure {
  public:
    struct Error {
        std::shared_ptr<TKQstructure> report;  // head "error", always with a "type" entry
    };

    // Head "unknown", capacity 16, no entries.
    TKQstructure();
    explicit TKQstructure(const char* head);
    // Deep copy; the copy's capacity equals the source's count.
    TKQstructure(const TKQstructure& other);
    TKQstructure& operator=(const TKQstructure& other);
    ~TKQstructure();

    const char* GetHead() const { return head.c_str(); }
    int GetCount() const { return count; }
    int GetCapacity() const { return capacity; }
    bool IsLeaf() const { return count == 0; }
    // Entries in their current order, 0 <= i < GetCount().
    const char* GetKeyword(int i) const;
    const TKQstructure* GetEntryValue(int i) const;

    // Null when no keyword matches under strcasecmp.
    TKQstructure* FindValue(const char* keyword);
    const TKQstructure* FindValue(const char* keyword) const;
    // Absence is a fatal internal check.
    TKQstructure* GetValue(const char* keyword);
    const TKQstructure* GetValue(const char* keyword) const;
    // Absence throws Error (error :type invalid-message :expected KEYWORD).
    TKQstructure* GetRequiredValue(const char* keyword);
    const TKQstructure* GetRequiredValue(const char* keyword) const;
    // Throws when the keyword is absent, or when expected is not empty and differs from the
    // value's head: (error :type invalid-message :tag KEYWORD :expected-value EXPECTED).
    void CheckValue(const char* keyword, const char* expected) const;

    // Takes ownership of newval (never null). An existing entry keeps its position and its
    // keyword as first written; a new one is appended, growing capacity to max(2*cap, 16).
    void SetValue(const char* keyword, TKQstructure* newval);
    void SetValue(const char* keyword, std::unique_ptr<TKQstructure> newval);
    void SetString(const char* keyword, const char* text);
    void SetInteger(const char* keyword, long value);   // "%ld"
    void SetNumber(const char* keyword, double value);  // "%f", every digit kept
    void SetBoolean(const char* keyword, bool flag);    // "true" / "false"
    // Removes the first match and moves the last entry into its place.
    void RemoveValue(const char* keyword);

    // Text form: a leaf is its head; otherwise "(" head then " :keyword value" per entry, ")".
    std::string ToText() const;
    void Print(std::ostream& out) const;
    void Print() const;  // to standard output
    void PrintLine() const;

  private:
    using Entry = std::pair<std::string, std::unique_ptr<TKQstructure>>;

    int FindIndex(const char* keyword) const;
    void CopyEntriesFrom(const TKQstructure& other);

    std::string head;
    std::vector<Entry> entries;
    int capacity;
    int count;
};

// New structure (error :type TYPE); callers add entries with SetString.
std::unique_ptr<TKQstructure> MakeError(const char* type);

// "%ld" / "%lf" style reads: leading whitespace skipped, trailing characters ignored, decimal
// point always '.'. No number throws TKQstructure::Error with :integer-expected / :number-expected.
long ToInteger(const char* text);
double ToNumber(const char* text);
// The number stored under `keyword` (compared without regard to case) as ToNumber reads it, or
// `absent` when the structure has no such keyword.
double NumberOr(const TKQstructure* s, const char* keyword, double absent);
// "TRUE" / "FALSE" in any case; anything else throws (error :type type-error :expected boolean).
bool ToBoolean(const char* text);
// As ToInteger / ToNumber, but a failed conversion is a fatal internal check.
long ScanInteger(const char* text);
double ScanNumber(const char* text);

// The words at indexes 1 .. count-1 of an argument-style array, each followed by one space.
std::string JoinWords(int count, const char* const* words);

}  // namespace synapsor
