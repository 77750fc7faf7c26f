// plot: epoch lines in, an SVG chart out that is well-formed XML, whose lines hold the points
// read, and that rsvg-convert renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "MLP/Tool/Plot.h"
#include "MLP/Tool/SvgWriter.h"
#include "MLP/Tool/ToolSupport.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
};

// A small well-formedness check: matched tags, quoted attributes, only the five entities.
// Fails the test and returns what it read so far on any fault.
std::vector<Element> ParseXml(const std::string& xml) {
    std::vector<Element> elements;
    std::vector<std::size_t> open;
    auto checkText = [](const std::string& t) {
        for (std::size_t i = t.find('&'); i != std::string::npos; i = t.find('&', i + 1)) {
            const std::string e = t.substr(i, t.find(';', i) - i + 1);
            EXPECT_TRUE(e == "&amp;" || e == "&lt;" || e == "&gt;" || e == "&quot;" ||
                        e == "&apos;")
                << e;
        }
    };
    std::size_t i = xml.find("?>") + 2;
    while ((i = xml.find_first_not_of(" \n", i)) != std::string::npos) {
        if (xml[i] != '<') {
            const std::size_t end = xml.find('<', i);
            const std::string text = xml.substr(i, end - i);
            EXPECT_EQ(text.find('>'), std::string::npos);
            checkText(text);
            if (!open.empty())
                elements[open.back()].text += text;
            i = end;
            continue;
        }
        const std::size_t end = xml.find('>', i);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unclosed tag";
            return elements;
        }
        std::string tag = xml.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag[0] == '/') {
            EXPECT_FALSE(open.empty());
            if (open.empty())
                return elements;
            EXPECT_EQ(elements[open.back()].name, tag.substr(1));
            open.pop_back();
            continue;
        }
        const bool empty = tag.back() == '/';
        if (empty)
            tag.pop_back();
        std::istringstream in(tag);
        Element e;
        in >> e.name;
        std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t p = 0; (p = rest.find_first_not_of(' ', p)) != std::string::npos;) {
            const std::size_t eq = rest.find("=\"", p);
            const std::size_t close = rest.find('"', eq + 2);
            EXPECT_TRUE(eq != std::string::npos && close != std::string::npos) << tag;
            if (eq == std::string::npos || close == std::string::npos)
                return elements;
            const std::string value = rest.substr(eq + 2, close - eq - 2);
            EXPECT_EQ(value.find('<'), std::string::npos);
            checkText(value);
            e.attributes[rest.substr(p, eq - p)] = value;
            p = close + 1;
        }
        elements.push_back(e);
        if (!empty)
            open.push_back(elements.size() - 1);
    }
    EXPECT_TRUE(open.empty());
    return elements;
}

std::vector<std::pair<double, double>> Points(const Element& polyline) {
    std::vector<std::pair<double, double>> points;
    std::istringstream in(polyline.attributes.at("points"));
    double x = 0, y = 0;
    char comma = 0;
    while (in >> x >> comma >> y)
        points.emplace_back(x, y);
    return points;
}

// Pixels are written to 0.01: positions relative to the first and last point match the data.
void ExpectProportional(const std::vector<std::pair<double, double>>& pixels, const Curve& curve,
                        bool logY) {
    ASSERT_EQ(pixels.size(), curve.points.size());
    const auto f = [logY](double v) { return logY ? std::log10(v) : v; };
    const std::size_t n = pixels.size() - 1;
    for (std::size_t i = 0; i <= n; ++i) {
        const double ex = (curve.points[i].first - curve.points[0].first) /
                          (curve.points[n].first - curve.points[0].first);
        const double px = (pixels[i].first - pixels[0].first) / (pixels[n].first - pixels[0].first);
        EXPECT_NEAR(px, ex, 1e-4);
        const double ey = (f(curve.points[i].second) - f(curve.points[0].second)) /
                          (f(curve.points[n].second) - f(curve.points[0].second));
        const double py =
            (pixels[i].second - pixels[0].second) / (pixels[n].second - pixels[0].second);
        EXPECT_NEAR(py, ey, 1e-3);
    }
}

TEST(Plot, EpochLinesOnly) {
    std::istringstream log(
        "warning: x.par:3: \"A\" is not a setting\n1 0.5\r\n2 0.25\n"
        "3 abc\nepoch 4 0.1\n4 1e-05\n 5 0.1\n6 nan\n");
    const Curve c = ReadEpochLines(log, "run");
    ASSERT_EQ(c.points.size(), 4u);
    EXPECT_EQ(c.points[0], std::make_pair(1.0, 0.5));
    EXPECT_EQ(c.points[1], std::make_pair(2.0, 0.25));
    EXPECT_EQ(c.points[2], std::make_pair(4.0, 1e-05));
    EXPECT_TRUE(std::isnan(c.points[3].second));
}

TEST(Plot, ValidationColumnIsASecondCurve) {
    std::istringstream log("1 0.5 0.6\n2 0.25 0.4\n3 0.2 x\n4 0.1\n5 0.1 0.3 0.2\n");
    Curve validation;
    const Curve c = ReadEpochLines(log, "run", &validation);
    EXPECT_EQ(c.points, (std::vector<std::pair<double, double>>{{1, 0.5}, {2, 0.25}, {4, 0.1}}));
    EXPECT_EQ(validation.name, "run (validation)");
    EXPECT_EQ(validation.points, (std::vector<std::pair<double, double>>{{1, 0.6}, {2, 0.4}}));
    std::istringstream again("1 0.5 0.6\n");
    EXPECT_EQ(ReadEpochLines(again, "run").points.size(), 1u) << "the training column alone";
}

TEST(Plot, NiceTicks) {
    EXPECT_EQ(NiceTicks(0, 1, 5), (std::vector<double>{0, 0.2, 0.4, 0.6000000000000001, 0.8, 1}));
    EXPECT_EQ(NiceTicks(1, 100, 8), (std::vector<double>{20, 40, 60, 80, 100}));
    EXPECT_EQ(NiceTicks(-3, 3, 3), (std::vector<double>{-2, 0, 2}));
}

// A log of one epoch is drawn around it at any magnitude: the point lies inside the plot area,
// with finite coordinates, also where one epoch either side vanishes in rounding. A chart that
// refuses such an epoch must say so with a ToolError.
TEST(Plot, OneEpochAtAnyMagnitude) {
    for (const double epoch : {0.0, 7.0, 1e6, 0x1p40, 0x1p52, 0x1p53, 9.223372036854776e18}) {
        SCOPED_TRACE(epoch);
        for (const bool logY : {false, true}) {
            PlotOptions options;
            options.logY = logY;
            std::ostringstream svg;
            std::size_t skipped = 0;
            try {
                WritePlot(svg, {{"one", {{epoch, 0.25}}}}, options, skipped);
            } catch (const ToolError&) {
                continue;
            }
            EXPECT_EQ(svg.str().find("nan"), std::string::npos);
            const std::vector<Element> elements = ParseXml(svg.str());
            ASSERT_FALSE(elements.empty());
            const double width = std::stod(elements[0].attributes.at("width"));
            std::size_t drawn = 0;
            for (const Element& e : elements) {
                if (e.name != "polyline")
                    continue;
                const auto points = Points(e);
                ASSERT_EQ(points.size(), 1u);
                EXPECT_GT(points[0].first, 0.0);
                EXPECT_LT(points[0].first, width);
                ++drawn;
            }
            EXPECT_EQ(drawn, 1u);
        }
    }
}

TEST(Plot, SvgHoldsTheCurvesAndRenders) {
    std::vector<Curve> curves = {
        {"a <1> & \"b\"", {{1, 0.9}, {2, 0.5}, {3, 0.3}, {10, 0.01}}},
        {"second", {{1, 0.7}, {5, 0.002}, {6, 0.0}}},
    };
    for (const bool logY : {false, true}) {
        SCOPED_TRACE(logY ? "log" : "linear");
        PlotOptions options;
        options.logY = logY;
        options.title = "T & <t>";
        std::ostringstream svg;
        std::size_t skipped = 0;
        WritePlot(svg, curves, options, skipped);
        EXPECT_EQ(skipped, logY ? 1u : 0u);  // 0 has no logarithm
        const std::vector<Element> elements = ParseXml(svg.str());
        std::vector<const Element*> lines;
        std::vector<std::string> texts;
        for (const Element& e : elements) {
            if (e.name == "polyline")
                lines.push_back(&e);
            if (e.name == "text" || e.name == "title")
                texts.push_back(e.text);
        }
        ASSERT_EQ(lines.size(), 2u);
        ExpectProportional(Points(*lines[0]), curves[0], logY);
        Curve drawn = curves[1];
        if (logY)
            drawn.points.pop_back();
        ExpectProportional(Points(*lines[1]), drawn, logY);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "T &amp; &lt;t&gt;"), texts.end());
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "a &lt;1&gt; &amp; &quot;b&quot;"), 2);
        if (logY) {
            EXPECT_NE(std::find(texts.begin(), texts.end(), "0.001"), texts.end());
        }

        test::TempDir dir;
        const std::string file = dir.WriteFile("c.svg", svg.str());
        if (system("command -v rsvg-convert >/dev/null 2>&1") == 0) {
            const test::ProgramResult r = test::RunProgram(
                "/bin/sh", {"-c", "rsvg-convert -o " + dir.File("c.png") + " " + file});
            EXPECT_EQ(r.status, 0) << r.err;
        }
    }
}

// Values far from zero (beyond 2^53 tick steps) or spanning more than the largest double once
// made the tick loop run forever; every finite range now gives a bounded, drawable chart.
TEST(Plot, ExtremeRangesGiveABoundedChart) {
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> points;
        bool logY;
    };
    const double big = 1.7976931348623157e308;
    const std::vector<Case> cases = {
        {"one epoch at 2^52", {{4503599627370496.0, 0.5}}, false},
        {"epochs near 2^63", {{9.2233720368547758e18, 0.5}, {9.2233720368547748e18, 0.4}}, false},
        {"errors 1e17 one step apart", {{1, 1e17}, {2, 1e17 + 16}}, false},
        {"one error of 1e17", {{1, 1e17}, {2, 1e17}}, false},
        {"errors spanning every double", {{1, -big}, {2, big}}, false},
        {"the largest error", {{1, big}}, false},
        {"log axis over every decade", {{1, 5e-324}, {2, big}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlotOptions options;
        options.logY = c.logY;
        std::ostringstream svg;
        std::size_t skipped = 0;
        WritePlot(svg, {{"run", c.points}}, options, skipped);
        EXPECT_EQ(skipped, 0u);
        const std::string text = svg.str();
        EXPECT_EQ(text.find("nan"), std::string::npos);
        EXPECT_EQ(text.find("inf"), std::string::npos);
        const std::vector<Element> elements = ParseXml(text);
        std::size_t lines = 0;
        for (const Element& e : elements)
            lines += e.name == "line" ? 1 : 0;
        EXPECT_LT(lines, 80u);
        const auto line = std::find_if(elements.begin(), elements.end(),
                                       [](const Element& e) { return e.name == "polyline"; });
        ASSERT_NE(line, elements.end());
        EXPECT_EQ(Points(*line).size(), c.points.size());
    }
}

// Titles and file names in another encoding or with control characters still give XML: every
// byte that is not part of an allowed UTF-8 character becomes "?".
TEST(Plot, TextIsAlwaysXmlCharacters) {
    const struct {
        std::string given, written;
    } cases[] = {
        {"Verlust \xc3\xa9t\xc3\xa9 \xe2\x82\xac", "Verlust \xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
        {"Latin-1 \xe9t\xe9", "Latin-1 ?t?"},
        {"a\x01"
         "b\x1b[31m\x7f",
         "a?b?[31m?"},
        {"cut \xe2\x82", "cut ??"},
        {"surrogate \xed\xa0\x80", "surrogate ???"},
        {"overlong \xc0\xaf", "overlong ??"},
        {"nonchar \xef\xbf\xbe", "nonchar ???"},
        {"C1 \xc2\x85", "C1 ??"},
        {"past U+10FFFF \xf4\x90\x80\x80", "past U+10FFFF ????"},
        {"emoji \xf0\x9f\x98\x80 <&>", "emoji \xf0\x9f\x98\x80 &lt;&amp;&gt;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SvgWriter::Escape(c.given), c.written) << c.given;

    // The whole document, title and legend, as the program writes it.
    test::TempDir dir;
    const std::string log = dir.WriteFile("run\xff.log", "1 0.5\n2 0.25\n");
    const std::string svg = dir.File("t.svg");
    const test::ProgramResult r = test::RunProgram(
        SYNAPSOR_TOOL_EXE, {"plot", log, "-o", svg, "--title", "loss \xe9\x02 \xed\xa0\x80"});
    ASSERT_EQ(r.status, 0) << r.err;
    if (system("command -v xmllint >/dev/null 2>&1") == 0) {
        const test::ProgramResult lint =
            test::RunProgram("/bin/sh", {"-c", "xmllint --noout " + svg});
        EXPECT_EQ(lint.status, 0) << lint.err;
    }
}

TEST(Plot, ProgramReadsStandardInputAndRefusesLogsWithoutEpochs) {
    test::TempDir dir;
    const std::string empty = dir.WriteFile("empty.log", "Error on File Open\n");
    test::ProgramResult r = test::RunProgram(SYNAPSOR_TOOL_EXE, {"plot", empty});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "synapsor-tool: " + empty + ": no epoch lines (\"EPOCH ERROR\")\n");
    const std::string log = dir.WriteFile("run.log", "1 0.5\n2 0.4\n");
    r = test::RunProgram("/bin/sh", {"-c", std::string(SYNAPSOR_TOOL_EXE) + " plot - < " + log});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("<polyline"), std::string::npos);
    EXPECT_NE(r.out.find("<title>standard input</title>"), std::string::npos);
}

}  // namespace
}  // namespace synapsor
