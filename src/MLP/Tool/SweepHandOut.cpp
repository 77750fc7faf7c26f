#include "MLP/Tool/SweepHandOut.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

using Clock = std::chrono::steady_clock;

// How long the thread that holds the link sleeps between looks at it: short beside a run, and
// long enough that waiting takes no core from the runs.
constexpr std::chrono::milliseconds kPollPause{1};

void PutBits(std::string& out, std::uint64_t bits, int bytes) {
    for (int b = 0; b < bytes; ++b)
        out += static_cast<char>((bits >> (8 * b)) & 0xff);
}

// Reads the encoded fields in order; running past the end is a malformed message.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes(bytes) {}
    std::uint64_t Bits(int count) {
        if (bytes.size() - at < static_cast<std::size_t>(count))
            throw ToolError("sweep: a malformed message between the processes");
        std::uint64_t bits = 0;
        for (int b = 0; b < count; ++b)
            bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at++])) << (8 * b);
        return bits;
    }
    std::int32_t Number() { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(4))); }
    double Real() {
        const std::uint64_t bits = Bits(8);
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string Text(std::size_t length) {
        if (bytes.size() - at < length)
            throw ToolError("sweep: a malformed message between the processes");
        std::string text(bytes.substr(at, length));
        at += length;
        return text;
    }
    void End() const {
        if (at != bytes.size())
            throw ToolError("sweep: a malformed message between the processes");
    }

  private:
    std::string_view bytes;
    std::size_t at = 0;
};

void PutNumber(std::string& out, std::int32_t value) {
    PutBits(out, static_cast<std::uint32_t>(value), 4);
}

void PutReal(std::string& out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutBits(out, bits, 8);
}

}  // namespace

std::string EncodeNumber(std::int32_t value) {
    std::string out;
    PutNumber(out, value);
    return out;
}

std::int32_t DecodeNumber(std::string_view bytes) {
    Reader in(bytes);
    const std::int32_t value = in.Number();
    in.End();
    return value;
}

std::string EncodeReport(const SweepReport& report) {
    std::string out;
    PutNumber(out, report.run);
    PutNumber(
        out, (report.result.finished ? 1 : 0) | (report.wantsWork ? 2 : 0) | (report.done ? 4 : 0));
    PutNumber(out, report.signal);
    PutReal(out, report.result.score);
    PutReal(out, report.result.seconds);
    PutNumber(out, static_cast<std::int32_t>(report.result.failure.size()));
    out += report.result.failure;
    return out;
}

SweepReport DecodeReport(std::string_view bytes) {
    Reader in(bytes);
    SweepReport report;
    report.run = in.Number();
    const std::int32_t flags = in.Number();
    if (flags < 0 || flags > 7)
        throw ToolError("sweep: a malformed message between the processes");
    report.result.finished = (flags & 1) != 0;
    report.wantsWork = (flags & 2) != 0;
    report.done = (flags & 4) != 0;
    report.signal = in.Number();
    report.result.score = in.Real();
    report.result.seconds = in.Real();
    const std::int32_t length = in.Number();
    if (length < 0)
        throw ToolError("sweep: a malformed message between the processes");
    report.result.failure = in.Text(static_cast<std::size_t>(length));
    in.End();
    return report;
}

std::vector<SweepResult> HandOutRuns(const SweepPlan& plan, SweepLink& link, int jobs,
                                     SweepStop& stop, const std::function<void(int done)>& tick) {
    const int total = static_cast<int>(plan.runs.size());
    std::vector<SweepResult> results(static_cast<std::size_t>(total));
    // The rank each run went to (0: this one), so that a result is taken only from its rank.
    std::vector<int> owner(static_cast<std::size_t>(total), -1);
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    // This rank's threads and the other ranks draw from the one list of runs.
    auto take = [&]() -> int {
        if (stop.stop.load())
            return -1;
        const int i = next.fetch_add(1);
        return i < total ? i : -1;
    };
    std::mutex ownerLock;  // owner[] is written by this rank's threads too
    SweepPool pool(
        plan, std::max(1, std::min(jobs, total)),
        [&]() -> int {
            const int i = take();
            if (i >= 0) {
                std::lock_guard<std::mutex> hold(ownerLock);
                owner[i] = 0;
            }
            return i;
        },
        [&](int i, SweepResult result) {
            results[i] = std::move(result);
            done.fetch_add(1);
        },
        &stop.abandon);

    int ranksDone = 0;
    Clock::time_point lastTick = Clock::now() - std::chrono::seconds(1);
    int from = 0, tag = 0;
    std::string bytes;
    while (!pool.Finished() || ranksDone < link.Size() - 1) {
        if (Clock::now() - lastTick >= std::chrono::milliseconds(200)) {
            lastTick = Clock::now();
            if (tick)
                tick(done.load());
        }
        if (!link.Receive(from, tag, bytes)) {
            std::this_thread::sleep_for(kPollPause);
            continue;
        }
        if (tag != kSweepReport || from <= 0 || from >= link.Size())
            throw ToolError("sweep: a message of the wrong kind between the processes");
        const SweepReport report = DecodeReport(bytes);
        if (report.signal != 0)
            stop.Raise(report.signal);
        if (report.run >= 0) {
            std::lock_guard<std::mutex> hold(ownerLock);
            if (report.run >= total || owner[report.run] != from)
                throw ToolError("sweep: rank " + std::to_string(from) +
                                " reported a run it was not given");
            owner[report.run] = -1;
            if (report.result.finished) {
                results[report.run] = report.result;
                done.fetch_add(1);
            }
        }
        if (report.wantsWork) {
            const int i = take();
            if (i >= 0) {
                std::lock_guard<std::mutex> hold(ownerLock);
                owner[i] = from;
            }
            link.Send(from, kSweepWork, EncodeNumber(i));
        }
        if (report.done)
            ++ranksDone;
    }
    if (tick)
        tick(done.load());
    return results;
}

void EndHandOut(SweepLink& link, int status) {
    for (int rank = 1; rank < link.Size(); ++rank)
        link.Send(rank, kSweepEnd, EncodeNumber(status));
}

int WorkForRankZero(const SweepPlan& plan, SweepLink& link, int jobs,
                    const std::function<int()>& poll) {
    const int total = static_cast<int>(plan.runs.size());
    const int threads = std::max(1, std::min(jobs, total));
    // Runs given to this rank and not yet taken by a thread, and the results back from the
    // threads; the link is only used on this thread.
    std::mutex lock;
    std::condition_variable given;
    std::deque<int> waiting;
    bool closed = false;  // no more runs: the threads end once idle
    std::deque<std::pair<int, SweepResult>> finished;
    std::atomic<bool> abandon{false};

    SweepPool pool(
        plan, threads,
        [&]() -> int {
            std::unique_lock<std::mutex> hold(lock);
            given.wait(hold, [&] { return closed || !waiting.empty(); });
            if (waiting.empty())
                return -1;
            const int i = waiting.front();
            waiting.pop_front();
            return i;
        },
        [&](int i, SweepResult result) {
            std::lock_guard<std::mutex> hold(lock);
            finished.emplace_back(i, std::move(result));
        },
        &abandon);
    auto close = [&] {
        std::lock_guard<std::mutex> hold(lock);
        closed = true;
        given.notify_all();
    };

    // One request per thread to start with; then one with each result, while runs remain.
    int asked = threads;
    for (int t = 0; t < threads; ++t) {
        SweepReport report;
        report.wantsWork = true;
        link.Send(0, kSweepReport, EncodeReport(report));
    }
    bool stopping = false;  // this rank caught a signal
    bool noMore = false;    // rank 0 answered -1
    bool sentDone = false;
    int from = 0, tag = 0;
    std::string bytes;
    for (;;) {
        bool idle = true;
        const int sig = stopping ? 0 : poll();
        if (sig != 0) {
            stopping = true;
            abandon = true;
            SweepReport report;
            report.signal = sig;
            link.Send(0, kSweepReport, EncodeReport(report));
            // Runs given and not started go back unrun.
            std::deque<int> unstarted;
            {
                std::lock_guard<std::mutex> hold(lock);
                unstarted.swap(waiting);
            }
            for (int i : unstarted) {
                SweepReport back;
                back.run = i;
                link.Send(0, kSweepReport, EncodeReport(back));
            }
            close();
        }
        std::deque<std::pair<int, SweepResult>> results;
        {
            std::lock_guard<std::mutex> hold(lock);
            results.swap(finished);
        }
        for (auto& [run, result] : results) {
            idle = false;
            SweepReport report;
            report.run = run;
            report.result = std::move(result);
            report.wantsWork = !stopping && !noMore;
            asked += report.wantsWork ? 1 : 0;
            link.Send(0, kSweepReport, EncodeReport(report));
        }
        while (link.Receive(from, tag, bytes)) {
            idle = false;
            if (from != 0 || (tag != kSweepWork && tag != kSweepEnd))
                throw ToolError("sweep: a message of the wrong kind between the processes");
            const int value = DecodeNumber(bytes);
            if (tag == kSweepEnd) {
                if (!sentDone)
                    throw ToolError("sweep: rank 0 ended the sweep before this rank was done");
                return value;
            }
            --asked;
            if (value >= total)
                throw ToolError("sweep: rank 0 handed out a run that does not exist");
            if (value < 0) {
                noMore = true;
                close();
            } else if (stopping) {
                SweepReport back;
                back.run = value;
                link.Send(0, kSweepReport, EncodeReport(back));
            } else {
                std::lock_guard<std::mutex> hold(lock);
                waiting.push_back(value);
                given.notify_one();
            }
        }
        if ((stopping || noMore) && asked == 0 && pool.Finished() && !sentDone) {
            std::lock_guard<std::mutex> hold(lock);
            if (finished.empty()) {
                SweepReport report;
                report.done = true;
                link.Send(0, kSweepReport, EncodeReport(report));
                sentDone = true;
            }
        }
        if (idle)
            std::this_thread::sleep_for(kPollPause);
    }
}

}  // namespace synapsor
