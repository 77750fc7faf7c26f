#include "NeuralNets/ActFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "NeuralNets/Neurons.h"

namespace synapsor {
namespace {

// Evaluates `fn` on a free-standing gain neuron with the given gain.
double Eval(ActFunction fn, double net, double gain = 1.0) {
    double cell = -123.0;
    TGainNeuron n;
    n.output = &cell;
    n.gain = gain;
    fn(&n, net);
    return cell;
}

TEST(ActFunctionsTest, BuiltInValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Exact results; below a net input of -500 the sigmoid gives its floor, not the formula.
    const struct {
        ActFunction fn;
        double net, out;
    } exact[] = {{ActBias, -7.0, 1.0},           {ActBias, 1e300, 1.0},
                 {ActLinear, -2.5, -2.5},        {ActSaturatedLinear, -0.5, 0.0},
                 {ActSaturatedLinear, 0.0, 0.0}, {ActSaturatedLinear, 0.25, 0.25},
                 {ActSaturatedLinear, 1.0, 1.0}, {ActSaturatedLinear, 3.0, 1.0},
                 {ActSaturatedLinear, nan, 0.0}, {ActSigmoid, 0.0, 0.5},
                 {ActSigmoid, -500.5, 1.0E-300}, {ActSigmoid, -1e6, 1.0E-300}};
    for (const auto& row : exact)
        EXPECT_EQ(Eval(row.fn, row.net), row.out) << row.net;
    // 1 / (1 + e^500), computed independently: 7.124576406741285e-218.
    EXPECT_NEAR(Eval(ActSigmoid, -500.0) / 7.124576406741285e-218, 1.0, 1e-12);
    EXPECT_DOUBLE_EQ(Eval(ActSigmoid, 0.7), 0.6681877721681662);  // 1 / (1 + e^-0.7)
    EXPECT_DOUBLE_EQ(Eval(ActTanh, 0.5), 0.46211715726000974);
}

TEST(ActFunctionsTest, GainVariantsScaleTheNetInput) {
    EXPECT_EQ(Eval(ActLinearGain, 2.0, 2.5), 5.0);
    EXPECT_EQ(Eval(ActSigmoidGain, 1.0, 2.0), Eval(ActSigmoid, 2.0));
    EXPECT_DOUBLE_EQ(Eval(ActSigmoidGain, 1.0, 2.0), 0.8807970779778823);  // 1 / (1 + e^-2)
    EXPECT_EQ(Eval(ActTanhGain, 0.25, 2.0), Eval(ActTanh, 0.5));
    for (double net : {-499.0, -3.0, 0.0, 0.3, 40.0})
        EXPECT_EQ(Eval(ActSigmoidGain, net), Eval(ActSigmoid, net)) << net;
    // The gain version has no floor.
    EXPECT_LT(Eval(ActSigmoidGain, -800.0), 1.0E-300);

    // A plain neuron has no gain: the gain functions treat it as 1.0.
    double cell = 0.0;
    TBasicNeuron plain;
    plain.output = &cell;
    ActLinearGain(&plain, 3.5);
    EXPECT_EQ(cell, 3.5);
}

TEST(ActFunctionsDeathTest, EvaluatingErrorOrNullIsFatal) {
    TBasicNeuron fresh;  // a neuron whose function was never set
    double cell = 0.0;
    fresh.output = &cell;
    EXPECT_DEATH(fresh.Activate(1.0), "Assertion failed: false, file .*ActFunctions");
    EXPECT_DEATH(ActNull(&fresh, 0.0), "Assertion failed: false");
}

TEST(FnRegistryTest, DefaultsInOrderWithExactNames) {
    TFnRegistry r;
    EXPECT_EQ(r.GetCount(), 0);
    EXPECT_EQ(r.GetCapacity(), 16);
    r.RegisterDefaults();
    EXPECT_EQ(r.GetCount(), 10);
    const ActFunction fns[] = {ActError,           ActNull,    ActBias, ActLinear,
                               ActSaturatedLinear, ActSigmoid, ActTanh, ActLinearGain,
                               ActSigmoidGain,     ActTanhGain};
    const char* names[] = {"error",   "null", "bias",        "linear",       "saturated-linear",
                           "sigmoid", "tanh", "linear-gain", "sigmoid-gain", "tanh-gain"};
    for (int k = 0; k < 10; ++k) {
        EXPECT_STREQ(r.GetName(fns[k]), names[k]);
        EXPECT_EQ(r.GetFunction(names[k]), fns[k]);
    }
}

TEST(FnRegistryTest, LookupIgnoresCaseButKeepsStoredSpelling) {
    TFnRegistry r;
    r.RegisterDefaults();
    EXPECT_EQ(r.GetFunction("SIGMOID"), ActSigmoid);
    EXPECT_EQ(r.GetFunction("SigMoid"), ActSigmoid);
    EXPECT_EQ(r.FindFunction("Tanh-Gain"), ActTanhGain);
    EXPECT_EQ(r.FindFunction("sigmoidal"), nullptr);
    EXPECT_EQ(r.FindFunction(""), nullptr);

    // A second name for a function: the newest registration answers GetName, spelled as given.
    r.Register(ActLinear, "MyLinear");
    EXPECT_STREQ(r.GetName(ActLinear), "MyLinear");
    EXPECT_EQ(r.GetFunction("mylinear"), ActLinear);
    EXPECT_EQ(r.GetFunction("linear"), ActLinear);
}

TEST(FnRegistryTest, GrowsPastSixteenKeepingEarlierEntries) {
    TFnRegistry r;
    r.RegisterDefaults();
    for (int k = 0; k < 6; ++k)
        r.Register(ActLinear, ("extra" + std::to_string(k)).c_str());
    EXPECT_EQ(r.GetCount(), 16);
    EXPECT_EQ(r.GetCapacity(), 16);
    r.Register(ActTanh, "Seventeenth");
    EXPECT_EQ(r.GetCount(), 17);
    EXPECT_EQ(r.GetCapacity(), 32);
    EXPECT_EQ(r.GetFunction("error"), ActError);
    EXPECT_EQ(r.GetFunction("sigmoid-gain"), ActSigmoidGain);
    EXPECT_EQ(r.GetFunction("EXTRA3"), ActLinear);
    EXPECT_EQ(r.GetFunction("seventeenth"), ActTanh);
}

TEST(FnRegistryTest, EntryFindsOrAppendsASlot) {
    TFnRegistry r;
    r.RegisterDefaults();
    EXPECT_EQ(&r.Entry("SIGMOID"), &r.Entry("sigmoid"));
    EXPECT_EQ(r.Entry("Sigmoid"), ActSigmoid);
    ActFunction& slot = r.Entry("Custom");
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(r.GetCount(), 11);
    slot = ActTanh;
    EXPECT_EQ(r.GetFunction("custom"), ActTanh);
}

void Unregistered(TBasicNeuron* /*neuron*/, double /*net*/) {}

TEST(FnRegistryDeathTest, MisuseIsFatal) {
    TFnRegistry r;
    r.RegisterDefaults();
    EXPECT_DEATH(r.Register(ActSigmoid, "Tanh"),
                 "Assertion failed: strcasecmp\\(p,pp->name\\)!=0, file .*ActFunctions");
    EXPECT_DEATH(r.GetFunction("nope"), "Assertion failed: false");
    EXPECT_DEATH(r.GetName(Unregistered), "Assertion failed: false");
}

}  // namespace
}  // namespace synapsor
