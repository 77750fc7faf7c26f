#include "KQmessage/KQML.h"

#include <locale.h>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "Common/Assert.h"
#include "Common/StrCase.h"

namespace synapsor {

namespace {

constexpr int kDefaultCapacity = 16;

// Every number text of the structure is read in the "C" locale so that a user's locale never
// turns 0.5 into 0,5.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// 1 when a number was read, 0 otherwise (the scanf convention).
int ReadInteger(const char* text, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return end != text ? 1 : 0;
}

int ReadNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = strtod_l(text, &end, CLocale());
    return end != text ? 1 : 0;
}

[[noreturn]] void ThrowReport(std::unique_ptr<TKQstructure> report) {
    throw TKQstructure::Error{std::shared_ptr<TKQstructure>(std::move(report))};
}

}  // namespace

TKQstructure::TKQstructure() : TKQstructure("unknown") {}

TKQstructure::TKQstructure(const char* h) : head(h), capacity(kDefaultCapacity), count(0) {
    entries.reserve(capacity);
}

TKQstructure::TKQstructure(const TKQstructure& other) : head(other.head), capacity(0), count(0) {
    CopyEntriesFrom(other);
}

TKQstructure& TKQstructure::operator=(const TKQstructure& other) {
    if (this == &other)
        return *this;
    entries.clear();
    head = other.head;
    CopyEntriesFrom(other);
    return *this;
}

TKQstructure::~TKQstructure() = default;

void TKQstructure::CopyEntriesFrom(const TKQstructure& other) {
    std::vector<Entry> copy;
    copy.reserve(other.count);
    for (const Entry& e : other.entries) {
        copy.emplace_back(e.first, std::make_unique<TKQstructure>(*e.second));
    }
    entries = std::move(copy);
    capacity = other.count;
    count = other.count;
}

const char* TKQstructure::GetKeyword(int i) const {
    SYN_ASSERT(i >= 0 && i < count);
    return entries[i].first.c_str();
}

const TKQstructure* TKQstructure::GetEntryValue(int i) const {
    SYN_ASSERT(i >= 0 && i < count);
    return entries[i].second.get();
}

int TKQstructure::FindIndex(const char* keyword) const {
    for (int i = 0; i < count; ++i) {
        if (strcasecmp(entries[i].first.c_str(), keyword) == 0)
            return i;
    }
    return -1;
}

TKQstructure* TKQstructure::FindValue(const char* keyword) {
    const int i = FindIndex(keyword);
    return i < 0 ? nullptr : entries[i].second.get();
}

const TKQstructure* TKQstructure::FindValue(const char* keyword) const {
    const int i = FindIndex(keyword);
    return i < 0 ? nullptr : entries[i].second.get();
}

TKQstructure* TKQstructure::GetValue(const char* keyword) {
    TKQstructure* value = FindValue(keyword);
    SYN_ASSERT(value != NULL);
    return value;
}

const TKQstructure* TKQstructure::GetValue(const char* keyword) const {
    const TKQstructure* value = FindValue(keyword);
    SYN_ASSERT(value != NULL);
    return value;
}

TKQstructure* TKQstructure::GetRequiredValue(const char* keyword) {
    return const_cast<TKQstructure*>(std::as_const(*this).GetRequiredValue(keyword));
}

const TKQstructure* TKQstructure::GetRequiredValue(const char* keyword) const {
    const TKQstructure* value = FindValue(keyword);
    if (value == nullptr) {
        auto report = MakeError("invalid-message");
        report->SetString("expected", keyword);
        ThrowReport(std::move(report));
    }
    return value;
}

void TKQstructure::CheckValue(const char* keyword, const char* expected) const {
    const TKQstructure* value = GetRequiredValue(keyword);
    if (expected[0] == '\0' || strcasecmp(value->GetHead(), expected) == 0)
        return;
    auto report = MakeError("invalid-message");
    report->SetString("tag", keyword);
    report->SetString("expected-value", expected);
    ThrowReport(std::move(report));
}

void TKQstructure::SetValue(const char* keyword, TKQstructure* newval) {
    SYN_ASSERT(newval != NULL);
    SetValue(keyword, std::unique_ptr<TKQstructure>(newval));
}

void TKQstructure::SetValue(const char* keyword, std::unique_ptr<TKQstructure> newval) {
    SYN_ASSERT(newval != NULL);
    const int i = FindIndex(keyword);
    if (i >= 0) {
        entries[i].second = std::move(newval);
        return;
    }
    if (count == capacity) {
        capacity = capacity * 2 > kDefaultCapacity ? capacity * 2 : kDefaultCapacity;
        entries.reserve(capacity);
    }
    entries.emplace_back(keyword, std::move(newval));
    ++count;
}

void TKQstructure::SetString(const char* keyword, const char* text) {
    SetValue(keyword, std::make_unique<TKQstructure>(text));
}

void TKQstructure::SetInteger(const char* keyword, long value) {
    char buf[32];  // a 64-bit long needs at most 20 characters
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    SetString(keyword, std::string(buf, res.ptr).c_str());
}

void TKQstructure::SetNumber(const char* keyword, double value) {
    // The largest double written with six decimals needs 317 characters (sign, 309 digits,
    // point, 6 decimals), so this buffer always holds the full text: nothing is cut off.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    SYN_ASSERT(res.ec == std::errc());
    SetString(keyword, std::string(buf, res.ptr).c_str());
}

void TKQstructure::SetBoolean(const char* keyword, bool flag) {
    SetString(keyword, flag ? "true" : "false");
}

void TKQstructure::RemoveValue(const char* keyword) {
    const int i = FindIndex(keyword);
    if (i < 0)
        return;
    if (i != count - 1)
        entries[i] = std::move(entries[count - 1]);
    entries.pop_back();
    --count;
}

void TKQstructure::Print(std::ostream& out) const {
    if (count == 0) {
        out << head;
        return;
    }
    out << '(' << head;
    for (const Entry& e : entries) {
        out << " :" << e.first << ' ';
        e.second->Print(out);
    }
    out << ')';
}

std::string TKQstructure::ToText() const {
    std::ostringstream text;
    Print(text);
    return text.str();
}

void TKQstructure::Print() const {
    Print(std::cout);
}

void TKQstructure::PrintLine() const {
    Print(std::cout);
    std::cout << std::endl;
}

std::unique_ptr<TKQstructure> MakeError(const char* type) {
    auto report = std::make_unique<TKQstructure>("error");
    report->SetString("type", type);
    return report;
}

long ToInteger(const char* text) {
    long value = 0;
    if (ReadInteger(text, &value) != 1) {
        auto report = MakeError("invalid-message");
        report->SetString("integer-expected", text);
        ThrowReport(std::move(report));
    }
    return value;
}

double NumberOr(const TKQstructure* s, const char* keyword, double absent) {
    const TKQstructure* v = s->FindValue(keyword);
    return v ? ToNumber(v->GetHead()) : absent;
}

double ToNumber(const char* text) {
    double value = 0.0;
    if (ReadNumber(text, &value) != 1) {
        auto report = MakeError("invalid-message");
        report->SetString("number-expected", text);
        ThrowReport(std::move(report));
    }
    return value;
}

bool ToBoolean(const char* text) {
    if (strcasecmp(text, "TRUE") == 0)
        return true;
    if (strcasecmp(text, "FALSE") == 0)
        return false;
    auto report = MakeError("type-error");
    report->SetString("expected", "boolean");
    ThrowReport(std::move(report));
}

long ScanInteger(const char* text) {
    long value = 0;
    const int err = ReadInteger(text, &value);
    SYN_ASSERT(err == 1);
    return value;
}

double ScanNumber(const char* text) {
    double value = 0.0;
    const int err = ReadNumber(text, &value);
    SYN_ASSERT(err == 1);
    return value;
}

std::string JoinWords(int count, const char* const* words) {
    std::string joined;
    for (int i = 1; i < count; ++i) {
        joined += words[i];
        joined += ' ';
    }
    return joined;
}

}  // namespace synapsor
