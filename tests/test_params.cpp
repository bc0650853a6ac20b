// Typed parameter maps: reads by name and kind, the used flags and the
// unused-parameter warning.
#include "vexlarcore/params.h"

#include "test_support.h"

#include <cmath>

using namespace vexlar;

namespace {

std::string unusedReport(const paramMap_t& m, const std::string& env) {
    return support::captured([&] { m.checkUnused(env); });
}

} // namespace

TEST(paramMap, TypedReadsDeliverTheirKindAndMarkUsed) {
    parameter_t c(0.5f, 0.25f, 1.0f, 0.75f);
    c.used = true;
    c.text = "stale";
    c.number = 9.0f;
    const parameter_t copy(c); // only the value of its kind comes along
    EXPECT_TRUE(copy.kind == 3 && copy.used && copy.colour.A == 0.75f && copy.text.empty() &&
                copy.number == 0);
    paramMap_t m;
    m["name"] = parameter_t(std::string("marble"));
    m["size"] = parameter_t(2.9f);
    m["center"] = parameter_t(point3d_t(-1, 0.5f, 4));
    m["tint"] = parameter_t(0.2f, 0.4f, 0.6f, 0.8f);
    const std::string* s = nullptr;
    ASSERT_TRUE(m.getParam("name", s));
    EXPECT_TRUE(s == &m["name"].text && *s == "marble"); // points into the map
    float f = 0;
    double d = 0;
    int i = 0;
    EXPECT_TRUE(m.getParam("size", f) && m.getParam("size", d) && m.getParam("size", i));
    EXPECT_TRUE(f == 2.9f && d == static_cast<double>(2.9f) && i == 2); // widened, truncated
    point3d_t p;
    EXPECT_TRUE(m.getParam("center", p) && p.x == -1 && p.z == 4);
    colorA_t ca(0, 0, 0, 0.9f);
    EXPECT_TRUE(m.getParam("tint", static_cast<color_t&>(ca)) && ca.R == 0.2f &&
                ca.A == 0.9f); // keeps its alpha
    EXPECT_TRUE(m.getParam("tint", ca) && ca.A == 0.8f);
    EXPECT_EQ(unusedReport(m, "tex"), "");
    for (int k = 0; k < 100; ++k) m["k" + std::to_string(k)] = parameter_t(float(k));
    EXPECT_EQ(*s, "marble"); // the pointer stays valid
}

TEST(paramMap, IntReadsTruncateAndRefuseValuesOutsideTheIntRange) {
    // 2147483520 is the largest float below 2^31; -2^31 is the least int.
    const std::pair<float, bool> cases[] = {
        {2.9f, true},    {-2.9f, true},    {-0.5f, true}, {2147483520.0f, true}, {-2147483648.0f, true},
        {3.0e9f, false}, {-3.0e9f, false}, {NAN, false},  {INFINITY, false},     {2147483648.0f, false}};
    for (const auto& [v, fits] : cases) {
        paramMap_t m;
        m["v"] = parameter_t(v);
        int i = 42;
        EXPECT_EQ(m.getParam("v", i), fits) << v;
        // Refused values leave the int alone and the setting unused, so the host warns.
        EXPECT_TRUE(fits ? i == static_cast<int>(std::trunc(v)) && m["v"].used : i == 42 && !m["v"].used)
            << v;
    }
}

TEST(paramMap, BooleansWrongKindsMissingNamesAndTheUnusedReport) {
    paramMap_t m;
    for (const char* v : {"on", "off", "ON", "on ", ""}) m[v] = parameter_t(std::string(v));
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
    bool b = false;
    EXPECT_TRUE(m.getParam("on", b) && b);
    EXPECT_TRUE(m.getParam("off", b) && !b);
    for (const char* name : {"ON", "on ", ""})
        for (bool was : {true, false}) {
            bool keep = was;
            EXPECT_FALSE(m.getParam(name, keep));
            EXPECT_TRUE(keep == was && m[name].used) << name; // asked for, so used: not reported below
        }
    EXPECT_FALSE(m.getParam("f", p) || m.getParam("s", f) || m.getParam("p", f) || m.getParam("c", f) ||
                 m.getParam("missing", f) || m.getParam("s", d) || m.getParam("c", i) || m.getParam("f", s) ||
                 m.getParam("p", col) || m.getParam("f", colA) || m.getParam("f", b));
    EXPECT_TRUE(p.x == 9 && f == -1 && d == -1 && i == -1 && s == nullptr && col.R == 5 && colA.A == 5);
    EXPECT_EQ(m.entries().size(), 9u); // failed reads insert nothing
    EXPECT_TRUE(m.getParam("p", p));
    for (const char* k : {"b", "B", "a b", "_"}) m[k] = parameter_t(0.0f);
    const std::string want = "[WARNING]:Unused param B in e\n[WARNING]:Unused param _ in e\n"
                             "[WARNING]:Unused param a b in e\n[WARNING]:Unused param b in e\n"
                             "[WARNING]:Unused param c in e\n[WARNING]:Unused param f in e\n"
                             "[WARNING]:Unused param s in e\n";
    EXPECT_EQ(unusedReport(m, "e"), want);             // bytewise key order
    EXPECT_EQ(unusedReport(paramMap_t(m), "e"), want); // copies keep the flags
    EXPECT_EQ(m["fresh"].kind, -1);                    // the subscript inserts an entry of no kind
    EXPECT_TRUE(m.includes("fresh", -1) && !m.includes("fresh", 0) && !m.includes("absent", -1));
    m.clear();
    EXPECT_TRUE(m.entries().empty() && !m.getParam("p", p));
}
