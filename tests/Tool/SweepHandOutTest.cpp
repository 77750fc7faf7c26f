// The hand-out of a sweep's runs from rank 0 to other ranks, over queues between threads in
// place of MPI: the messages' encoding, results equal to one process's, and stops that leave no
// rank waiting.
#include <signal.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "MLP/Tool/SweepHandOut.h"
#include "MLP/Tool/ToolSupport.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(SweepHandOut, ReportsCrossTheLinkBitForBitAndOthersAreRefused) {
    SweepReport cases[6];
    cases[0].wantsWork = true;
    cases[1].run = 41;
    cases[1].result = {true, 0.1 + 0.2, 1.5e-3, ""};
    cases[1].wantsWork = true;
    cases[2].run = 7;
    cases[2].result = {true, std::numeric_limits<double>::quiet_NaN(), 2.0,
                       std::string("diverged in epoch 3\0\xff", 21)};
    cases[3].run = 2147483647;
    cases[3].result = {true, -0.0, 0.0, ""};
    cases[3].done = true;
    cases[4].signal = SIGTERM;
    cases[5].run = 3;  // handed back unrun
    for (const SweepReport& c : cases) {
        const std::string bytes = EncodeReport(c);
        const SweepReport back = DecodeReport(bytes);
        EXPECT_EQ(back.run, c.run);
        EXPECT_EQ(back.result.finished, c.result.finished);
        EXPECT_EQ(Bits(back.result.score), Bits(c.result.score)) << c.run;
        EXPECT_EQ(Bits(back.result.seconds), Bits(c.result.seconds));
        EXPECT_EQ(back.result.failure, c.result.failure);
        EXPECT_EQ(back.wantsWork, c.wantsWork);
        EXPECT_EQ(back.done, c.done);
        EXPECT_EQ(back.signal, c.signal);
        // Cut short or run on, or with flags or a length no report has: refused.
        const std::string flags(std::string("\x08\0\0\0", 4));
        const std::string negative(std::string("\xff\xff\xff\xff", 4));
        for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), bytes + 'x',
                                       bytes.substr(0, 4) + flags + bytes.substr(8),
                                       bytes.substr(0, 28) + negative + bytes.substr(32)}) {
            EXPECT_THROW(DecodeReport(bad), ToolError);
        }
    }
    for (std::int32_t n : {-1, 0, 1, 65536, -2147483647 - 1})
        EXPECT_EQ(DecodeNumber(EncodeNumber(n)), n);
    EXPECT_THROW(DecodeNumber("abc"), ToolError);
    EXPECT_THROW(DecodeNumber("abcde"), ToolError);
}

// Links between threads: one inbox per rank. Counts the runs each rank reported.
struct Network {
    struct Message {
        int from, tag;
        std::string bytes;
    };
    std::mutex lock;
    std::vector<std::deque<Message>> inbox;
    std::vector<int> reported;
    explicit Network(int size) : inbox(size), reported(size, 0) {}
};

class ThreadLink : public SweepLink {
  public:
    ThreadLink(Network& net, int rank) : net(net), rank(rank) {}
    int Rank() const override { return rank; }
    int Size() const override { return static_cast<int>(net.inbox.size()); }
    void Send(int to, int tag, const std::string& bytes) override {
        std::lock_guard<std::mutex> hold(net.lock);
        if (tag == kSweepReport && DecodeReport(bytes).result.finished)
            net.reported[rank] += 1;
        net.inbox[to].push_back({rank, tag, bytes});
    }
    bool Receive(int& from, int& tag, std::string& bytes) override {
        std::lock_guard<std::mutex> hold(net.lock);
        if (net.inbox[rank].empty())
            return false;
        from = net.inbox[rank].front().from;
        tag = net.inbox[rank].front().tag;
        bytes = net.inbox[rank].front().bytes;
        net.inbox[rank].pop_front();
        return true;
    }

  private:
    Network& net;
    int rank;
};

// 24 rows of a smooth function of two inputs, scored on themselves.
SweepPlan SmallPlan(const test::TempDir& dir, int epochs) {
    std::string data =
        "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 24]\n[Inputs = 2]\n[ExpectedOutputs = 1]\n"
        "[Data]\n";
    for (int i = 0; i < 24; ++i) {
        const double a = (i % 6) / 5.0, b = (i / 6) / 3.0;
        data += std::to_string(a) + ' ' + std::to_string(b) + ' ' +
                std::to_string(0.2 + 0.5 * a * b) + '\n';
    }
    const std::string file = dir.WriteFile("r.dat", data + "[~Data]\n[~DataSet]\n");
    // LearningRate 40 drives some runs' weights past the numbers: failed runs travel too.
    return PrepareSweep(ParseSweepSetup(
        "TrainingFile = " + file + "\nFolds = 3\nEpochs = " + std::to_string(epochs) +
            "\nLearningRate = 0.3 0.9 40\nHidden = 3 5\nOutputFunction = linear-gain\n"
            "Seeds = 1 2\n",
        "s.sweep"));
}

struct Sweep {
    std::vector<SweepResult> results;
    std::vector<int> statuses;  // what each other rank ended with
    int signal = 0;
    std::vector<int> reported;
};

// Rank 0 on this thread, the others on threads of their own; `signalAt[r]` is the poll of rank
// r > 0 at which it catches SIGTERM (0: never), and rank 0's own at index 0.
Sweep RunRanks(const SweepPlan& plan, int size, int jobs, std::vector<int> signalAt = {}) {
    signalAt.resize(static_cast<std::size_t>(size), 0);
    Network net(size);
    Sweep sweep;
    sweep.statuses.assign(static_cast<std::size_t>(size), -1);
    std::vector<std::thread> ranks;
    for (int r = 1; r < size; ++r) {
        ranks.emplace_back([&, r] {
            ThreadLink link(net, r);
            int polls = 0;
            sweep.statuses[r] = WorkForRankZero(
                plan, link, jobs, [&] { return ++polls == signalAt[r] ? SIGTERM : 0; });
        });
    }
    ThreadLink link(net, 0);
    SweepStop stop;
    int ticks = 0;
    sweep.results = HandOutRuns(plan, link, jobs, stop, [&](int) {
        if (++ticks == signalAt[0])
            stop.Raise(SIGINT);
    });
    sweep.signal = stop.signal.load();
    EndHandOut(link, sweep.signal == 0 ? 0 : 128 + sweep.signal);
    for (std::thread& t : ranks)
        t.join();
    sweep.reported = net.reported;
    return sweep;
}

TEST(SweepHandOut, ResultsEqualOneProcesssWhateverTheRanksAndThreads) {
    test::TempDir dir;
    const SweepPlan plan = SmallPlan(dir, 1500);
    const std::atomic<bool> never{false};
    const std::vector<SweepResult> alone = RunAll(plan, 1, never, nullptr);
    int failed = 0;
    for (const SweepResult& r : alone)
        failed += r.failure.empty() ? 0 : 1;
    ASSERT_GT(failed, 0);
    ASSERT_LT(failed, static_cast<int>(alone.size()));
    struct Case {
        int size, jobs;
    } cases[] = {{1, 1}, {2, 1}, {3, 1}, {3, 2}, {5, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " ranks, " + std::to_string(c.jobs) + " jobs");
        const Sweep sweep = RunRanks(plan, c.size, c.jobs);
        ASSERT_EQ(sweep.results.size(), alone.size());
        for (std::size_t i = 0; i < alone.size(); ++i) {
            EXPECT_TRUE(sweep.results[i].finished) << i;
            EXPECT_EQ(Bits(sweep.results[i].score), Bits(alone[i].score)) << i;
            EXPECT_EQ(sweep.results[i].failure, alone[i].failure) << i;
        }
        std::vector<int> statuses(static_cast<std::size_t>(c.size), 0);
        statuses[0] = -1;  // rank 0 hands out
        EXPECT_EQ(sweep.statuses, statuses);
        int remote = 0;
        for (int r = 1; r < c.size; ++r)
            remote += sweep.reported[r];
        EXPECT_EQ(sweep.reported[0], 0);
        EXPECT_LE(remote, static_cast<int>(alone.size()));
        if (c.size > 1) {
            EXPECT_GT(remote, 0);
        }
    }
}

// A signal on any rank stops the hand-out; every rank ends with the status of the interrupt, and
// the runs that did finish have the scores one process gives them.
TEST(SweepHandOut, ASignalOnAnyRankStopsAllWithTheFinishedRunsKept) {
    test::TempDir dir;
    const SweepPlan plan = SmallPlan(dir, 20000);
    struct Case {
        std::vector<int> signalAt;
        int signal;
    } cases[] = {{{0, 2, 0}, SIGTERM}, {{0, 0, 5}, SIGTERM}, {{2, 0, 0}, SIGINT}};
    for (const Case& c : cases) {
        const Sweep sweep = RunRanks(plan, 3, 1, c.signalAt);
        EXPECT_EQ(sweep.signal, c.signal);
        EXPECT_EQ(sweep.statuses, (std::vector<int>{-1, 128 + c.signal, 128 + c.signal}));
        int finished = 0;
        for (std::size_t i = 0; i < plan.runs.size(); ++i) {
            if (!sweep.results[i].finished)
                continue;
            ++finished;
            EXPECT_EQ(Bits(sweep.results[i].score), Bits(RunOne(plan, plan.runs[i]).score)) << i;
        }
        EXPECT_LT(finished, static_cast<int>(plan.runs.size()));
    }
}

}  // namespace
}  // namespace synapsor
