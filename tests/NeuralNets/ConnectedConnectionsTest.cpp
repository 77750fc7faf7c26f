#include "NeuralNets/ConnectedConnections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "CoreTestNets.h"
#include "NeuralNets/ConnectedNetwork.h"

namespace synapsor {
namespace {

// The random-weight formula written out independently: lo + (r mod 32767) / 32767 * (hi - lo).
double Drawn(int r, double lo, double hi) {
    return static_cast<double>(lo + (r % 32767) * (1.0L / 32767) * (hi - lo));
}

using Cells = std::vector<std::pair<int, int>>;

// (from, to) of every visit; each must be of a trainable weight.
Cells CellsOf(const TVisitLog& log) {
    Cells out;
    for (const TVisit& v : log.seen) {
        EXPECT_TRUE(v.trainable);
        out.emplace_back(v.from, v.to);
    }
    return out;
}

// Layers of 1, 3 and 2 neurons with the 3-by-2 matrix (1 to 2), weight (from, to) = 10 from + to.
class ConnectedConnectionsTest : public ::testing::Test {
  protected:
    ConnectedConnectionsTest() : net(3, kSizes) {
        net.Connect(1, 2);
        m = static_cast<TConnectedConnections*>(net.GetConnections(1, 2));
        for (int from = 0; from < 3; ++from)
            for (int to = 0; to < 2; ++to)
                m->GetWeight(from, to) = 10.0 * from + to;
    }

    std::vector<double> Weights() {
        std::vector<double> w(static_cast<size_t>(m->GetNumWeights(1)));
        EXPECT_EQ(m->GetWeights(w.data(), 0), static_cast<int>(w.size()));
        return w;
    }

    static constexpr int kSizes[3] = {1, 3, 2};
    TConnectedNetwork net;
    TConnectedConnections* m;
};

TEST_F(ConnectedConnectionsTest, NewMatrixHoldsZerosAndCountsEveryWeight) {
    net.Connect(0, 1);
    TBasicConnections* fresh = net.GetConnections(0, 1);
    EXPECT_STREQ(fresh->GetConnectionsNType(), "FullyConnected");
    EXPECT_EQ(fresh->GetConnectionsNType(), m->GetConnectionsNType());
    EXPECT_EQ(fresh->GetNumWeights(0), 3);
    EXPECT_EQ(m->GetNumWeights(0), 6);
    EXPECT_EQ(m->GetNumWeights(1), 6);
    for (int to = 0; to < 3; ++to)
        EXPECT_EQ(fresh->GetWeight(0, to), 0.0);
    EXPECT_TRUE(m->IsValid(2, 1) && m->IsTrainable(2, 1));
    EXPECT_EQ(m->GetFlags(2, 1), FMaskAll);
}

TEST_F(ConnectedConnectionsTest, GetWeightsRunsFromMajorWhileIterateRunsToMajor) {
    EXPECT_EQ(Weights(), (std::vector<double>{0, 1, 10, 11, 20, 21}));
    TVisitLog all;
    m->Iterate(all, 0);
    EXPECT_EQ(all.Get(&TVisit::w), (std::vector<double>{0, 10, 20, 1, 11, 21}));
    EXPECT_EQ(CellsOf(all).size(), 6u);
    EXPECT_EQ(all.fromLayer, 1);
    EXPECT_EQ(all.toLayer, 2);
    EXPECT_EQ(all.fromValues, net.GetLayer(1)->values.data());

    // SetWeights reads the same from-major order back.
    const std::vector<double> in = {5, 6, 7, 8, 9, 4};
    EXPECT_EQ(m->SetWeights(in.data(), 1), 6);
    EXPECT_EQ(m->GetWeight(1, 0), 7);
    EXPECT_EQ(m->GetWeight(2, 1), 4);
    EXPECT_EQ(Weights(), in);

    // The storage view is to-major without masks.
    const TWeightStorage s = m->GetStorage();
    EXPECT_EQ(s.masks, nullptr);
    EXPECT_EQ(s.nFrom, 3);
    EXPECT_EQ(s.nTo, 2);
    EXPECT_EQ(&s.weights[1 * 3 + 2], &m->GetWeight(2, 1));
}

TEST_F(ConnectedConnectionsTest, IterateFromAndIterateToVisitOneNeuron) {
    TVisitLog out;
    m->IterateFrom(out, 1, 0);
    EXPECT_EQ(CellsOf(out), (Cells{{1, 0}, {1, 1}}));
    EXPECT_EQ(out.Get(&TVisit::w), (std::vector<double>{10, 11}));
    TVisitLog in;
    m->IterateTo(in, 1, 1);
    EXPECT_EQ(CellsOf(in), (Cells{{0, 1}, {1, 1}, {2, 1}}));
}

TEST_F(ConnectedConnectionsTest, AddNetInputsAddsWeightedOutputsToNet) {
    net.GetLayer(1)->values = {1.0, 2.0, 3.0};
    double netIn[2] = {0.5, 0.25};
    m->AddNetInputs(netIn);
    EXPECT_DOUBLE_EQ(netIn[0], 80.5);   // 0.5 + 0*1 + 10*2 + 20*3
    EXPECT_DOUBLE_EQ(netIn[1], 86.25);  // 0.25 + 1*1 + 11*2 + 21*3
}

TEST_F(ConnectedConnectionsTest, RandomizeDrawsInStorageOrderUnlessBoundsAreEqual) {
    EXPECT_EQ(NumbersDrawn([&] { m->Randomize(0.5, 0.5); }), 0);
    EXPECT_EQ(Weights(), std::vector<double>(6, 0.5));

    std::srand(7);
    std::vector<double> expected;  // storage order: (0,0) (1,0) (2,0) (0,1) (1,1) (2,1)
    for (int k = 0; k < 6; ++k)
        expected.push_back(Drawn(std::rand(), -1.0, 1.0));
    std::srand(7);
    m->Randomize(-1.0, 1.0);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(m->GetWeight(k % 3, k / 3), expected[k]) << k;
}

TEST_F(ConnectedConnectionsTest, PruneAndSetUntrainableAreRefusedAndChangeNothing) {
    ExpectThrown([&] { m->Prune(1, 0); }, "Fully connected weights cannot be pruned",
                 "TConnectedConnections::Prune");
    ExpectThrown([&] { m->SetUntrainable(1, 0); }, "Fully connected weights cannot be frozen",
                 "TConnectedConnections::SetUntrainable");
    EXPECT_EQ(Weights(), (std::vector<double>{0, 1, 10, 11, 20, 21}));
    EXPECT_TRUE(m->IsValid(1, 0) && m->IsTrainable(1, 0));
}

TEST_F(ConnectedConnectionsTest, RemovingNeuronsKeepsTheOtherColumnsAndRows) {
    TBasicLayer* from = net.GetLayer(1);
    from->DeleteNode(1);
    from->numNodes = 2;
    m->RemoveFromNeuron(1);
    EXPECT_EQ(Weights(), (std::vector<double>{0, 1, 20, 21}));  // old columns 0 and 2

    TBasicLayer* to = net.GetLayer(2);
    to->DeleteNode(0);
    to->numNodes = 1;
    m->RemoveToNeuron(0);
    EXPECT_EQ(Weights(), (std::vector<double>{1, 21}));  // old row 1
    EXPECT_EQ(m->GetStorage().nTo, 1);
}

TEST_F(ConnectedConnectionsTest, InsertingNeuronsShiftsOldWeightsAndDrawsTheNewOnes) {
    TBasicLayer* to = net.GetLayer(2);
    to->InsertNode(0);
    to->numNodes = 3;
    std::srand(11);
    std::vector<double> drawn;
    for (int from = 0; from < 3; ++from)
        drawn.push_back(Drawn(std::rand(), -0.5, 0.5));
    std::srand(11);
    m->InsertToNeuron(0, -0.5, 0.5, true);
    for (int from = 0; from < 3; ++from) {
        EXPECT_EQ(m->GetWeight(from, 0), drawn[from]);
        EXPECT_GE(drawn[from], -0.5);
        EXPECT_LT(drawn[from], 0.5);
        EXPECT_EQ(m->GetWeight(from, 1), 10.0 * from);      // old row 0
        EXPECT_EQ(m->GetWeight(from, 2), 10.0 * from + 1);  // old row 1
    }

    // A new column is drawn even when lo == hi: three numbers are used up.
    TBasicLayer* from = net.GetLayer(1);
    from->InsertNode(1);
    from->numNodes = 4;
    EXPECT_EQ(NumbersDrawn([&] { m->InsertFromNeuron(1, 0.25, 0.25, true); }), 3);
    for (int to2 = 0; to2 < 3; ++to2)
        EXPECT_EQ(m->GetWeight(1, to2), 0.25);
    EXPECT_EQ(m->GetWeight(2, 1), 10.0);  // old from-neuron 1 moved to 2
    EXPECT_EQ(m->GetWeight(3, 2), 21.0);
    EXPECT_EQ(m->GetNumWeights(0), 12);
}

TEST_F(ConnectedConnectionsTest, InsertingUnattachedNeuronIsFatal) {
    TBasicLayer* from = net.GetLayer(1);
    from->InsertNode(0);
    from->numNodes = 4;
    EXPECT_DEATH(m->InsertFromNeuron(0, 0.0, 1.0, false), "Assertion failed: attached");
}

// Records each weight cell with its partners in the second and third network.
class TPairRecorder : public TIterateObj3 {
  public:
    void Visit() override {
        EXPECT_TRUE(trainable);
        EXPECT_EQ(weight2, &conns2->GetWeight(from, to));
        EXPECT_EQ(weight3, &conns3->GetWeight(from, to));
        sums.push_back(*weight + *weight2 + *weight3);
    }
    std::vector<double> sums;
};

class TPairRecorder2 : public TIterateObj2 {
  public:
    void Visit() override {
        EXPECT_EQ(weight2, &conns2->GetWeight(from, to));
        pairs.emplace_back(*weight, *weight2);
    }
    std::vector<std::pair<double, double>> pairs;
};

TEST_F(ConnectedConnectionsTest, CloneIsDeepAndPairedVisitsMatchPositions) {
    TConnectedNetwork copy(net);
    TConnectedNetwork third(net);
    TBasicConnections* c = copy.GetConnections(1, 2);
    EXPECT_STREQ(c->GetConnectionsNType(), "FullyConnected");
    EXPECT_EQ(c->network, &copy);
    c->GetWeight(2, 0) = 100.0;
    EXPECT_EQ(m->GetWeight(2, 0), 20.0);  // the source is unchanged
    third.GetConnections(1, 2)->GetWeight(0, 1) = 1000.0;

    TPairRecorder2 two;
    m->Iterate2(two, &copy, 0);
    EXPECT_EQ(two.pairs, (std::vector<std::pair<double, double>>{
                             {0, 0}, {10, 10}, {20, 100}, {1, 1}, {11, 11}, {21, 21}}));
    EXPECT_EQ(two.conns2, c);

    TPairRecorder three;
    m->Iterate3(three, &copy, &third, 0);
    // 3 w + the two changed cells: (2,0) +80 in the copy, (0,1) +999 in the third network
    EXPECT_EQ(three.sums, (std::vector<double>{0, 30, 140, 1002, 33, 63}));
}

}  // namespace
}  // namespace synapsor
