#include "NeuralNets/Neurons.h"

#include <gtest/gtest.h>

#include "NeuralNets/Layers.h"

namespace synapsor {
namespace {

TEST(NeuronsTest, GainNeuronCarriesOneParameterNamedGain) {
    TGainNeuron n;
    EXPECT_EQ(n.gain, 1.0);
    EXPECT_EQ(n.GetNumParameters(), 1);
    EXPECT_STREQ(n.GetParameterName(0), "Gain");
    const double in[1] = {0.5};
    n.SetParameters(in);
    double out[1] = {0.0};
    n.GetParameters(out);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(n.GetGain(), 0.5);

    TBasicNeuron plain;
    EXPECT_EQ(plain.GetNumParameters(), 0);
    EXPECT_EQ(plain.GetGain(), 1.0);
    EXPECT_EQ(plain.GetActFunction(), ActError);
}

TEST(NeuronsTest, SettingANeuronsFunctionClearsTheLayersCommonFunction) {
    TSimpleLayer layer(nullptr, 2, 2);
    layer.SetActFunction(ActSigmoid);
    ASSERT_EQ(layer.actFn, ActSigmoid);
    layer.nodes[1].SetActFunction(ActTanh);
    EXPECT_EQ(layer.actFn, nullptr);
    EXPECT_EQ(layer.nodes[1].GetActFunction(), ActTanh);
    EXPECT_EQ(layer.nodes[0].GetActFunction(), ActSigmoid);
}

TEST(NeuronsDeathTest, ParameterNamesOutOfRangeAreFatal) {
    TBasicNeuron plain;
    EXPECT_DEATH(plain.GetParameterName(0), "Assertion failed: false, file .*Neurons");
    TGainNeuron gain;
    EXPECT_DEATH(gain.GetParameterName(1), "Assertion failed: i==0");
}

}  // namespace
}  // namespace synapsor
