#include "NeuralNets/MLPNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "CoreTestNets.h"
#include "DataObject/Data.h"
#include "NeuralNets/ErrorObj.h"

namespace synapsor {
namespace {

// Keeps every pattern handed to it; its error is the plain sum of squared differences.
class TRecordingError : public TErrorObj {
  public:
    explicit TRecordingError(int outputs) : TErrorObj(outputs) {}
    void Reset() override {}
    void AddPattern(const double* target, const double* output) override {
        targets.push_back(target[0]);
        outputs.push_back(output[0]);
        sum += (target[0] - output[0]) * (target[0] - output[0]);
        numPatterns += 1;
    }
    double GetError() override { return sum; }
    void AddPenalty(int, const double*, TKQstructure*) override {}
    std::vector<double> targets;
    std::vector<double> outputs;
    double sum = 0.0;
};

TEST(MLPNetworkTest, SizesWithBiasGiveTheChainAndBiasConnections) {
    const int sizes[3] = {2, 3, 1};
    TMLPNetwork net(3, sizes, true);
    EXPECT_STREQ(net.GetTypeName(), "MLP");
    EXPECT_TRUE(net.hasBias);
    ASSERT_EQ(net.GetNumLayers(), 4);
    EXPECT_EQ(net.GetInLayer(), 1);
    EXPECT_EQ(net.GetOutLayer(), 3);
    const char* types[4] = {"Simple", "Input", "Gain", "Gain"};
    const int nodes[4] = {1, 2, 3, 1};
    const ActFunction fns[4] = {ActBias, ActLinear, ActSigmoid, ActSigmoid};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(net.GetLayer(i)->GetTypeName(), types[i]) << i;
        EXPECT_EQ(net.GetLayer(i)->numNodes, nodes[i]) << i;
        EXPECT_EQ(net.GetLayer(i)->GetActFunction(), fns[i]) << i;
    }
    EXPECT_EQ(net.GetLayer(2)->GetNeuron(1)->GetGain(), 1.0);
    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            const bool wanted = (to >= 2 && (from == to - 1 || from == 0));
            TBasicConnections* c = net.GetConnections(from, to);
            EXPECT_EQ(c->IsConnected(), wanted) << from << " to " << to;
            if (wanted) {
                EXPECT_STREQ(c->GetConnectionsNType(), "Pruneable");
            }
        }
    }
    // 2*3 + 3*1 + 1*3 + 1*1 weights, all starting at 0.
    ASSERT_EQ(net.GetNumWeights(1), 13);
    std::vector<double> w(13, 1.0);
    net.GetWeights(w.data(), 1);
    EXPECT_EQ(w, std::vector<double>(13, 0.0));
}

TEST(MLPNetworkTest, SizesWithoutBiasLeaveLayerZeroEmptyAndUnconnected) {
    const int sizes[3] = {2, 3, 1};
    TMLPNetwork net(3, sizes, false);
    EXPECT_FALSE(net.hasBias);
    EXPECT_EQ(net.GetLayer(0)->numNodes, 0);
    for (int to = 0; to < 4; ++to)
        EXPECT_FALSE(net.GetConnections(0, to)->IsConnected());
    EXPECT_TRUE(net.GetConnections(1, 2)->IsConnected());
    EXPECT_TRUE(net.GetConnections(2, 3)->IsConnected());
    EXPECT_EQ(net.GetNumWeights(0), 9);

    // All weights 0: every sigmoid output is sigmoid(0) = 0.5.
    const double input[2] = {3.0, -7.0};
    double output = 0.0;
    net.Recall(input, &output);
    EXPECT_EQ(output, 0.5);
}

TEST(MLPNetworkTest, ReaderConstructorOnlySizesTheFrame) {
    TMLPNetwork net(2, true);
    EXPECT_EQ(net.GetNumLayers(), 3);
    EXPECT_EQ(net.GetOutLayer(), 2);
    EXPECT_TRUE(net.hasBias);
    EXPECT_STREQ(net.GetTypeName(), "MLP");
    EXPECT_FALSE(net.GetConnections(1, 2)->IsConnected());
    net.SetLayer(0, new TSimpleLayer(&net, 0, 1));
    net.SetLayer(1, new TSimpleInputLayer(&net, 1, 2));
    net.SetLayer(2, new TGainLayer(&net, 2, 1, 1.0));
    EXPECT_EQ(net.GetMissingLayer(), -1);
}

// The (2, 3, 1) perceptron with bias and fixed weights, and an independent forward pass.
class MLPDataTest : public ::testing::Test {
  protected:
    MLPDataTest() : net(3, kSizes, true) {
        for (int j = 0; j < 3; ++j) {
            net.GetConnections(0, 2)->GetWeight(0, j) = kB[j];
            net.GetConnections(1, 2)->GetWeight(0, j) = kW[j][0];
            net.GetConnections(1, 2)->GetWeight(1, j) = kW[j][1];
            net.GetConnections(2, 3)->GetWeight(j, 0) = kV[j];
        }
        net.GetConnections(0, 3)->GetWeight(0, 0) = kC;
    }

    static double Sig(double x) { return 1.0 / (1.0 + std::exp(-x)); }
    static double Expected(double x0, double x1) {
        double sum = kC;
        for (int j = 0; j < 3; ++j)
            sum += kV[j] * Sig(kB[j] + kW[j][0] * x0 + kW[j][1] * x1);
        return Sig(sum);
    }

    // Rows (0, 0 -> 0), (1, 0 -> 1), (0.5, -1 -> 0.5), (2, 1 -> 1) appended in turn.
    static std::unique_ptr<Data> MakeData(int capacity, int rows, int inputs = 2) {
        auto data = std::make_unique<Data>(capacity, inputs, 1, false);
        for (int k = 0; k < rows; ++k) {
            const double in[3] = {kX[k][0], kX[k][1], 9.0};
            data->AppendRow(in, &kT[k], nullptr);
        }
        return data;
    }

    static constexpr int kSizes[3] = {2, 3, 1};
    static constexpr double kB[3] = {0.1, -0.2, 0.3};
    static constexpr double kW[3][2] = {{0.5, -0.5}, {1.0, 0.25}, {-0.75, 0.5}};
    static constexpr double kV[3] = {1.0, -1.0, 0.5};
    static constexpr double kC = -0.1;
    static constexpr double kX[4][2] = {{0, 0}, {1, 0}, {0.5, -1}, {2, 1}};
    static constexpr double kT[4] = {0, 1, 0.5, 1};
    TMLPNetwork net;
};

TEST_F(MLPDataTest, RecallDataPairsEveryHeldRowWithItsOutput) {
    auto in = MakeData(5, 3);  // room for 5, 3 held: each row is recalled once
    std::unique_ptr<Data> out = net.RecallData(in.get());
    EXPECT_EQ(out->MbrNdxRows, 5);
    EXPECT_EQ(out->MbrNdxDataRows, 3);
    EXPECT_EQ(out->MbrNdxInputs, 2);
    EXPECT_EQ(out->MbrNdxOutputs, 1);
    EXPECT_FALSE(out->MbrBlnLabels);
    for (int row = 0; row < 3; ++row) {
        double x0, x1, y;
        out->GetInputDatum(row, 0, x0);
        out->GetInputDatum(row, 1, x1);
        out->GetOutputDatum(row, 0, y);
        EXPECT_EQ(x0, kX[row][0]);
        EXPECT_EQ(x1, kX[row][1]);
        EXPECT_DOUBLE_EQ(y, Expected(kX[row][0], kX[row][1])) << row;
    }
}

TEST_F(MLPDataTest, RecallOutputOnlyKeepsOutputsOldestRowFirst) {
    auto in = MakeData(2, 4);  // wrapped: rows 2 and 3 held, row 2 the oldest
    std::unique_ptr<Data> out;
    net.RecallOutputOnly(in.get(), &out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->MbrNdxRows, 2);
    EXPECT_EQ(out->MbrNdxInputs, 0);
    ASSERT_EQ(out->MbrNdxDataRows, 2);
    double y;
    out->GetOutputDatum(0, 0, y);
    EXPECT_DOUBLE_EQ(y, Expected(0.5, -1));
    out->GetOutputDatum(1, 0, y);
    EXPECT_DOUBLE_EQ(y, Expected(2, 1));

    std::unique_ptr<Data> untouched;
    ExpectThrown([&] { net.RecallOutputOnly(nullptr, &untouched); }, "Null data pointer",
                 "TQorm::RecallOutputOnly", "Null Pointer Parameter");
    EXPECT_EQ(untouched, nullptr);
}

TEST_F(MLPDataTest, ComputeErrorAddsEveryRowWithoutResetting) {
    auto in = MakeData(4, 4);
    TRecordingError error(1);
    const double seedTarget = 1.0;
    const double seedOutput = 0.0;
    error.AddPattern(&seedTarget, &seedOutput);  // adds 1.0 beforehand
    double expected = 1.0;
    for (int k = 0; k < 4; ++k)
        expected += std::pow(kT[k] - Expected(kX[k][0], kX[k][1]), 2);
    EXPECT_DOUBLE_EQ(net.ComputeError(in.get(), &error), expected);
    ASSERT_EQ(error.numPatterns, 5);
    EXPECT_EQ(error.targets, (std::vector<double>{1, 0, 1, 0.5, 1}));
    EXPECT_DOUBLE_EQ(error.outputs[2], Expected(1, 0));
}

TEST_F(MLPDataTest, InputSelectionDecidesWhatTheNetworkReads) {
    auto in = MakeData(2, 2, 3);  // third input column holds 9
    const int cols[2] = {2, 0};
    in->SetInputFeatures(2, cols);
    std::unique_ptr<Data> out;
    net.RecallOutputOnly(in.get(), &out);
    double y;
    out->GetOutputDatum(1, 0, y);
    EXPECT_DOUBLE_EQ(y, Expected(9, 1));  // row 1 delivers columns 2 and 0
}

TEST_F(MLPDataTest, DataOfAnotherShapeIsRefusedBeforeAnyRowIsRead) {
    auto wide = MakeData(2, 2, 3);
    ExpectThrown([&] { net.RecallData(wide.get()); },
                 "The data set delivers 3 inputs per row, the network's input layer has 2 neurons",
                 "TMLPNetwork::RecallData");
    EXPECT_EQ(wide->MbrNdxCurrent, 0);

    auto twoTargets = std::make_unique<Data>(1, 2, 2, false);
    TRecordingError one(1);
    ExpectThrown([&] { net.ComputeError(twoTargets.get(), &one); },
                 "The data set delivers 2 targets per row, the network's output layer has 1 "
                 "neurons",
                 "TMLPNetwork::ComputeError");
    auto in = MakeData(2, 2);
    TRecordingError two(2);
    ExpectThrown([&] { net.ComputeError(in.get(), &two); },
                 "The error object compares 2 outputs, the network's output layer has 1 neurons",
                 "TMLPNetwork::ComputeError");
    EXPECT_EQ(two.numPatterns, 0);
}

TEST_F(MLPDataTest, NullDataIsFatalForRecallDataAndComputeError) {
    TRecordingError error(1);
    EXPECT_DEATH(net.RecallData(nullptr), "Assertion failed: in != nil");
    EXPECT_DEATH(net.ComputeError(nullptr, &error), "Assertion failed: in != nil");
    auto data = MakeData(4, 4);
    EXPECT_DEATH(net.ComputeError(data.get(), nullptr), "Assertion failed: err != nil");
}

}  // namespace
}  // namespace synapsor
