// Typed parameter maps: reads by name and kind, the used flags and the
// unused-parameter warning.
#include "vexlarcore/params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

using namespace vexlar;

namespace {

std::string unusedReport(const paramMap_t& m, const std::string& env) {
    testing::internal::CaptureStdout();
    m.checkUnused(env);
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(ParameterTest, ConstructorsSetKindValueAndZeroTheRest) {
    parameter_t s(std::string("hello")), f(2.5f), p(point3d_t(1, 2, 3)), c(0.1f, 0.2f, 0.3f, 0.4f), n;
    EXPECT_EQ(s.kind, 1);
    EXPECT_FALSE(s.used);
    EXPECT_EQ(s.text, "hello");
    EXPECT_TRUE(s.number == 0 && s.point.x == 0 && s.colour.A == 0);
    EXPECT_EQ(f.kind, 0);
    EXPECT_EQ(f.number, 2.5f);
    EXPECT_TRUE(f.text.empty() && f.point.y == 0 && f.colour.R == 0);
    EXPECT_EQ(p.kind, 2);
    EXPECT_TRUE(p.point.x == 1 && p.point.y == 2 && p.point.z == 3 && p.colour.G == 0);
    EXPECT_EQ(c.kind, 3);
    EXPECT_TRUE(c.colour.R == 0.1f && c.colour.G == 0.2f && c.colour.B == 0.3f && c.colour.A == 0.4f);
    EXPECT_EQ(c.point.z, 0.0f);
    EXPECT_EQ(n.kind, -1);
    EXPECT_FALSE(n.used);
}

TEST(ParameterTest, CopyKeepsKindFlagAndOnlyThatValue) {
    parameter_t c(0.5f, 0.25f, 1.0f, 0.75f);
    c.used = true;
    c.text = "stale"; // not meaningful for a colour
    c.number = 9.0f;
    parameter_t copy(c);
    EXPECT_EQ(copy.kind, 3);
    EXPECT_TRUE(copy.used);
    EXPECT_TRUE(copy.colour.G == 0.25f && copy.colour.A == 0.75f);
    EXPECT_TRUE(copy.text.empty() && copy.number == 0);
    parameter_t assigned(std::string("x"));
    assigned = parameter_t(7.0f);
    EXPECT_TRUE(assigned.kind == 0 && !assigned.used && assigned.number == 7 && assigned.text.empty());
}

TEST(ParamMapTest, EveryTypedReadDeliversItsKind) {
    paramMap_t m;
    m["name"] = parameter_t(std::string("marble"));
    m["size"] = parameter_t(2.9f);
    m["center"] = parameter_t(point3d_t(-1, 0.5f, 4));
    m["tint"] = parameter_t(0.2f, 0.4f, 0.6f, 0.8f);

    const std::string* s = nullptr;
    ASSERT_TRUE(m.getParam("name", s));
    EXPECT_EQ(s, &m["name"].text) << "the read points into the map, it does not copy";
    EXPECT_EQ(*s, "marble");
    float f = 0;
    double d = 0;
    int i = 0;
    EXPECT_TRUE(m.getParam("size", f) && m.getParam("size", d) && m.getParam("size", i));
    EXPECT_EQ(f, 2.9f);
    EXPECT_EQ(d, static_cast<double>(2.9f)) << "widened, not reparsed as the decimal 2.9";
    EXPECT_EQ(i, 2);
    point3d_t p;
    EXPECT_TRUE(m.getParam("center", p));
    EXPECT_TRUE(p.x == -1 && p.y == 0.5f && p.z == 4) << p;
    colorA_t ca;
    EXPECT_TRUE(m.getParam("tint", ca));
    EXPECT_TRUE(ca.R == 0.2f && ca.G == 0.4f && ca.B == 0.6f && ca.A == 0.8f) << ca;

    for (const auto& e : m.entries()) EXPECT_TRUE(e.second.used) << e.first;
    EXPECT_EQ(unusedReport(m, "tex"), "");
}

TEST(ParamMapTest, IntReadTruncatesTowardZero) {
    // 2147483520 is the largest float below 2^31; -2^31 is the least int.
    for (float v : {2.9f, -2.9f, -0.5f, 2147483520.0f, -2147483648.0f}) {
        paramMap_t m;
        m["v"] = parameter_t(v);
        int i = 7;
        EXPECT_TRUE(m.getParam("v", i)) << v;
        EXPECT_EQ(i, static_cast<int>(std::trunc(v))) << v;
    }
}

TEST(ParamMapTest, IntReadRefusesValuesOutsideTheIntRange) {
    paramMap_t m;
    m["big"] = parameter_t(3.0e9f);
    m["small"] = parameter_t(-3.0e9f);
    m["nan"] = parameter_t(std::numeric_limits<float>::quiet_NaN());
    m["inf"] = parameter_t(std::numeric_limits<float>::infinity());
    m["two31"] = parameter_t(2147483648.0f);
    for (const char* name : {"big", "small", "nan", "inf", "two31"}) {
        int i = 42;
        EXPECT_FALSE(m.getParam(name, i)) << name;
        EXPECT_EQ(i, 42) << name;
        EXPECT_FALSE(m[name].used) << name;
    }
    // The refused ones are still readable as floats.
    float f = 0;
    EXPECT_TRUE(m.getParam("big", f));
    EXPECT_EQ(f, 3.0e9f);
}

TEST(ParamMapTest, BooleanReadAcceptsExactlyOnAndOff) {
    paramMap_t m;
    m["a"] = parameter_t(std::string("on"));
    m["b"] = parameter_t(std::string("off"));
    m["c"] = parameter_t(std::string("ON"));
    m["d"] = parameter_t(std::string("on "));
    m["e"] = parameter_t(std::string(""));
    m["f"] = parameter_t(1.0f);

    bool b = false;
    EXPECT_TRUE(m.getParam("a", b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(m.getParam("b", b));
    EXPECT_FALSE(b);
    // Neither word: the read fails and leaves the bool, but the entry was asked for.
    for (const char* name : {"c", "d", "e"}) {
        for (bool was : {true, false}) {
            bool keep = was;
            EXPECT_FALSE(m.getParam(name, keep)) << name;
            EXPECT_EQ(keep, was) << name;
        }
        EXPECT_TRUE(m[name].used) << name;
    }
    // A float is not a boolean.
    bool keep = true;
    EXPECT_FALSE(m.getParam("f", keep));
    EXPECT_TRUE(keep);
    EXPECT_FALSE(m["f"].used);
    EXPECT_EQ(unusedReport(m, "mat"), "[WARNING]:Unused param f in mat\n");
}

TEST(ParamMapTest, WrongKindOrMissingNameLeavesOutputAndFlagAlone) {
    paramMap_t m;
    m["f"] = parameter_t(1.5f);
    m["s"] = parameter_t(std::string("1.5"));
    m["p"] = parameter_t(point3d_t(1, 2, 3));
    m["c"] = parameter_t(1, 1, 1, 1);

    point3d_t p(9, 9, 9);
    float f = -1;
    double d = -1;
    int i = -1;
    const std::string* s = nullptr;
    color_t col(5, 5, 5);
    colorA_t colA(5, 5, 5, 5);
    EXPECT_FALSE(m.getParam("f", p) || m.getParam("s", f) || m.getParam("p", f) || m.getParam("c", f) ||
                 m.getParam("missing", f) || m.getParam("s", d) || m.getParam("c", i) || m.getParam("f", s) ||
                 m.getParam("p", col) || m.getParam("f", colA));
    EXPECT_TRUE(p.x == 9 && f == -1 && d == -1 && i == -1 && s == nullptr && col.R == 5 && colA.A == 5);
    for (const auto& e : m.entries()) EXPECT_FALSE(e.second.used) << e.first;
    EXPECT_EQ(m.entries().size(), 4u) << "failed reads must not insert entries";
}

TEST(ParamMapTest, ColourReadAsColorMarksUsedWithoutAlpha) {
    paramMap_t m;
    m["col"] = parameter_t(0.25f, 0.5f, 0.75f, 0.125f);
    color_t c;
    EXPECT_TRUE(m.getParam("col", c));
    EXPECT_TRUE(c.R == 0.25f && c.G == 0.5f && c.B == 0.75f) << c;
    EXPECT_TRUE(m["col"].used);
    // A colorA_t passed as a color_t keeps its own alpha.
    colorA_t ca(0, 0, 0, 0.9f);
    EXPECT_TRUE(m.getParam("col", static_cast<color_t&>(ca)));
    EXPECT_EQ(ca.R, 0.25f);
    EXPECT_EQ(ca.A, 0.9f);
}

TEST(ParamMapTest, CheckUnusedPrintsUnreadEntriesInBytewiseKeyOrder) {
    paramMap_t m;
    for (const char* k : {"b", "B", "a", "ab", "a b", "_"}) m[k] = parameter_t(0.0f);
    m["read"] = parameter_t(point3d_t(0, 0, 0));
    point3d_t p;
    ASSERT_TRUE(m.getParam("read", p));
    const std::string want = "[WARNING]:Unused param B in e\n"
                             "[WARNING]:Unused param _ in e\n"
                             "[WARNING]:Unused param a in e\n"
                             "[WARNING]:Unused param a b in e\n"
                             "[WARNING]:Unused param ab in e\n"
                             "[WARNING]:Unused param b in e\n";
    EXPECT_EQ(unusedReport(m, "e"), want);
    EXPECT_EQ(unusedReport(m, "e"), want); // reporting changes nothing
}

TEST(ParamMapTest, UsedFlagNeverGoesBackIsCopiedAndCleared) {
    paramMap_t m;
    m["k"] = parameter_t(3.0f);
    float f;
    ASSERT_TRUE(m.getParam("k", f));
    point3d_t p;
    EXPECT_FALSE(m.getParam("k", p));
    EXPECT_TRUE(m["k"].used);
    paramMap_t copy(m);
    EXPECT_TRUE(copy["k"].used);
    EXPECT_EQ(unusedReport(copy, "c"), "");
    m["b"] = parameter_t(std::string("on"));
    m.clear();
    EXPECT_TRUE(m.entries().empty());
    EXPECT_FALSE(m.getParam("k", f));
    EXPECT_EQ(unusedReport(m, "x"), "");
}

TEST(ParamMapTest, SubscriptInsertsAnEntryOfNoKind) {
    paramMap_t m;
    parameter_t& e = m["fresh"];
    EXPECT_EQ(e.kind, -1);
    EXPECT_FALSE(e.used);
    for (int kind = -1; kind <= 3; ++kind) EXPECT_EQ(m.includes("fresh", kind), kind == -1) << kind;
    EXPECT_FALSE(m.includes("absent", -1));
    float f = 1;
    EXPECT_FALSE(m.getParam("fresh", f));
    EXPECT_EQ(unusedReport(m, "x"), "[WARNING]:Unused param fresh in x\n");
    // The same entry comes back; nothing is replaced. includes never marks.
    m["fresh"] = parameter_t(4.0f);
    EXPECT_EQ(&m["fresh"], &e);
    EXPECT_EQ(m.entries().size(), 1u);
    EXPECT_TRUE(m.includes("fresh", 0));
    EXPECT_FALSE(m["fresh"].used);
}

namespace {

// A map that hides some names and records every question it is asked.
class filteredMap_t : public paramMap_t {
public:
    bool includes(const std::string& name, int kind) const override {
        asked.insert(name);
        if (hidden.count(name)) return false;
        if (pretend.count(name)) return true;
        return paramMap_t::includes(name, kind);
    }
    std::set<std::string> hidden, pretend;
    mutable std::set<std::string> asked;
};

} // namespace

TEST(ParamMapTest, DerivedIncludesGovernsEveryTypedRead) {
    filteredMap_t m;
    m["s"] = parameter_t(std::string("on"));
    m["f"] = parameter_t(2.0f);
    m["p"] = parameter_t(point3d_t(1, 1, 1));
    m["c"] = parameter_t(1, 0, 0, 1);
    m.hidden = {"s", "f", "p", "c"};

    const std::string* s = nullptr;
    bool b = false;
    float f = 0;
    double d = 0;
    int i = 0;
    point3d_t p;
    color_t c;
    colorA_t ca;
    EXPECT_FALSE(m.getParam("s", s) || m.getParam("s", b) || m.getParam("f", f) || m.getParam("f", d) ||
                 m.getParam("f", i) || m.getParam("p", p) || m.getParam("c", c) || m.getParam("c", ca));
    EXPECT_EQ(m.asked.size(), 4u);
    for (const auto& e : m.entries()) EXPECT_FALSE(e.second.used) << e.first;

    // Through a base reference the override still decides.
    paramMap_t& base = m;
    EXPECT_FALSE(base.getParam("f", f));
    m.hidden.clear();
    EXPECT_TRUE(base.getParam("f", f));
    EXPECT_EQ(f, 2.0f);
    EXPECT_TRUE(base.getParam("s", b));
    EXPECT_TRUE(b);
}

TEST(ParamMapTest, DerivedIncludesAcceptingAnAbsentNameIsHarmless) {
    filteredMap_t m;
    m.pretend = {"ghost"};
    float f = 3;
    const std::string* s = nullptr;
    EXPECT_FALSE(m.getParam("ghost", f));
    EXPECT_FALSE(m.getParam("ghost", s));
    EXPECT_EQ(f, 3.0f);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(m.entries().empty());
}

TEST(ParamMapTest, StringPointerStaysValidWhileEntryLives) {
    paramMap_t m;
    m["z"] = parameter_t(std::string("value"));
    const std::string* s = nullptr;
    ASSERT_TRUE(m.getParam("z", s));
    for (int k = 0; k < 100; ++k) m["k" + std::to_string(k)] = parameter_t(float(k));
    EXPECT_EQ(*s, "value");
}
