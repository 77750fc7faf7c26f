#include "NeuralNets/Connections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "CoreTestNets.h"

namespace synapsor {
namespace {

TEST(ConnectionsTest, EmptyConnectionsAnswerNothing) {
    auto net = MakeLinearNet({1, 2, 3});
    TBasicConnections* c = net->GetConnections(1, 2);
    EXPECT_FALSE(c->IsConnected());
    EXPECT_FALSE(c->IsValid(0, 0));
    EXPECT_FALSE(c->IsTrainable(1, 2));
    EXPECT_EQ(c->GetNumWeights(FMaskExists), 0);
    EXPECT_EQ(c->GetNumWeights(0), 0);
    double buffer[1] = {7.0};
    EXPECT_EQ(c->GetWeights(buffer, FMaskExists), 0);
    EXPECT_EQ(c->SetWeights(buffer, FMaskExists), 0);
    EXPECT_EQ(buffer[0], 7.0);
    EXPECT_STREQ(c->GetConnectionsNType(), "Empty");
    EXPECT_EQ(c->GetConnectionsNType(), net->GetConnections(0, 0)->GetConnectionsNType());
    EXPECT_EQ(c->GetFlags(0, 0), FMaskAll);
    EXPECT_TRUE(c->GetAllFlags().empty());

    TVisitLog v;
    c->Iterate(v, FMaskExists);
    c->IterateTo(v, 0, FMaskExists);
    c->IterateFrom(v, 0, FMaskExists);
    EXPECT_TRUE(v.seen.empty());

    double net3[3] = {1.0, 2.0, 3.0};
    c->AddNetInputs(net3);
    EXPECT_EQ(net3[2], 3.0);

    // Flags that describe "every weight there" are accepted and ignored.
    c->SetFlags(0, 0, FMaskAll);
    c->SetFlags(0, 0, FMaskExists);

    TBasicConnections* copy = c->Clone(net.get());
    EXPECT_STREQ(copy->GetConnectionsNType(), "Empty");
    EXPECT_EQ(copy->GetFromLayer(), 1);
    EXPECT_EQ(copy->GetToLayer(), 2);
    copy->Destroy();
}

TEST(ConnectionsDeathTest, UnsupportedOperationsAreFatal) {
    auto net = MakeLinearNet({1, 2, 3});
    TBasicConnections* c = net->GetConnections(1, 2);
    EXPECT_DEATH(c->GetWeight(0, 0), "Assertion failed: false");
    EXPECT_DEATH(c->Prune(0, 0), "Assertion failed: false, file .*Connections");
    EXPECT_DEATH(c->SetUntrainable(0, 0), "Assertion failed: false");
    EXPECT_DEATH(c->SetFlags(0, 0, 2),
                 "Assertion failed: \\(val==FMaskAll\\) \\|\\| \\(val==FMaskExists\\)");
    EXPECT_DEATH(c->SetFlags(0, 0, 0), "Assertion failed: \\(val==FMaskAll\\)");
}

// The visitor routes of the base class, on a 2 -> 2 matrix whose weight (from, to) is
// 1 + from + 2 * to.
TEST(ConnectionsTest, BaseOperationsRunThroughTheVisitors) {
    auto net = MakeLinearNet({1, 2, 2});
    auto* c = new TDenseTestConnections(net.get(), 1, 2);
    net->SetConnections(1, 2, c);
    const double in[4] = {1, 2, 3, 4};
    EXPECT_EQ(c->SetWeights(in, 0), 4);
    EXPECT_EQ(c->GetWeight(1, 0), 2.0);
    EXPECT_EQ(c->GetWeight(0, 1), 3.0);
    EXPECT_EQ(c->GetNumWeights(FMaskExists), 4);
    EXPECT_EQ(c->GetNumWeights(0), 4);
    double out[4] = {};
    EXPECT_EQ(c->GetWeights(out, FMaskExists), 4);
    EXPECT_EQ(std::vector<double>(out, out + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(c->GetAllFlags(), std::vector<char>(4, FMaskAll));

    // net[to] += x0 * w(0, to) + x1 * w(1, to): 10 + (0.5*1 + -2*2), 20 + (0.5*3 + -2*4).
    net->GetLayer(1)->values = {0.5, -2.0};
    double sums[2] = {10.0, 20.0};
    c->AddNetInputs(sums);
    EXPECT_EQ(sums[0], 6.5);
    EXPECT_EQ(sums[1], 13.5);

    EXPECT_EQ(NumbersDrawn([&] { c->Randomize(-0.75, -0.75); }), 0);
    EXPECT_EQ(c->w, std::vector<double>(4, -0.75));
}

TEST(ConnectionsDeathTest, BaseMatrixWithoutFlagSupport) {
    auto net = MakeLinearNet({1, 2, 2});
    auto* c = new TDenseTestConnections(net.get(), 1, 2);
    net->SetConnections(1, 2, c);
    const unsigned char flags[4] = {3, 1, 3, 3};
    c->SetAllFlags(flags);  // accepted, nothing stored
    EXPECT_EQ(c->GetFlags(1, 0), FMaskAll);
    const unsigned char frozen[4] = {3, 2, 3, 3};
    EXPECT_DEATH(c->SetAllFlags(frozen), "Assertion failed: \\(val==FMaskAll\\)");
    EXPECT_DEATH(c->SetAllUntrainable(), "Assertion failed: false");
    EXPECT_DEATH(c->Unprune(0, 0), "Assertion failed: false");
    EXPECT_DEATH(c->SetTrainable(0, 0), "Assertion failed: false");
    EXPECT_DEATH(c->InsertFromNeuron(0, 0, 1, true), "Assertion failed: false");
    EXPECT_DEATH(c->InsertToNeuron(0, 0, 1, true), "Assertion failed: false");
}

TEST(ConnectionsTest, FilterOneAlsoSelectsFrozenWeights) {
    // Rows: flags 0 .. 3 (none, exists, trainable only, all); columns: the filters below.
    const int filters[4] = {0, FMaskExists, FMaskAll, 7};
    const bool passes[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1}};
    for (unsigned char flags = 0; flags < 4; ++flags)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(PassesFilter(flags, filters[k]), passes[flags][k])
                << int(flags) << " " << filters[k];
}

TEST(ConnectionsTest, RandomWeightStaysInItsRange) {
    std::srand(5);
    const int r = std::rand() % 32767;
    std::srand(5);
    // With the range 0 .. 32767 the weight is the drawn remainder itself.
    EXPECT_NEAR(RandomWeight(0.0, 32767.0), r, 1e-9);
    for (int k = 0; k < 2000; ++k) {
        const double w = RandomWeight(-0.5, 1.5);
        EXPECT_GE(w, -0.5);
        EXPECT_LE(w, -0.5 + 32766.0 / 32767.0 * 2.0);
    }
    // lo == hi still draws a number.
    EXPECT_EQ(NumbersDrawn([] { EXPECT_EQ(RandomWeight(0.25, 0.25), 0.25); }), 1);
}

}  // namespace
}  // namespace synapsor
