// The buffered reading of OBJ text: numbers and words must come out as the
// stream extraction gives them, whole lines must survive block edges, and
// the quick statement scan must agree with the full one.
#include <algorithm>
#include <cfloat>
#include <cstring>
#include <sstream>

#include "host/objcheck.h"
#include "host/objmaterials.h"
#include "host/objscan.h"
#include "host/objstream.h"
#include "gtest/gtest.h"
#include <tiny_obj_loader.h>

using namespace vexlar::host;

namespace {

// A text longer than one read block, so that lines straddle block edges.
std::string longPrefix() {
    std::string s;
    for (int i = 0; s.size() < 600000; ++i) s += "v " + std::to_string(i) + ".25 0 -1e-3\n";
    s += "# " + std::string(300000, 'x') + "\n"; // one line longer than a block
    return s;
}

// Every value the reader hands over, in order (faces as -1, then their
// corners' three indices).
struct record_t : objSink_t {
    std::vector<float> numbers;
    std::vector<int> faces;
    void vertex(float x, float y, float z) override { numbers.insert(numbers.end(), {x, y, z}); }
    void texcoord(float u, float v) override { numbers.insert(numbers.end(), {u, v, 9}); }
    void face(const objCorner_t* c, std::size_t n) override {
        faces.push_back(-1);
        for (std::size_t i = 0; i < n; ++i)
            faces.insert(faces.end(), {c[i].vertex, c[i].texcoord, c[i].normal});
    }
};

// The same through tinyobjloader's own callback reader.
record_t throughLoader(const std::string& text) {
    record_t r;
    tinyobj::callback_t cb;
    cb.vertex_cb = [](void* u, float x, float y, float z, float) {
        static_cast<record_t*>(u)->vertex(x, y, z);
    };
    cb.texcoord_cb = [](void* u, float a, float b, float) { static_cast<record_t*>(u)->texcoord(a, b); };
    cb.index_cb = [](void* u, tinyobj::index_t* idx, int n) {
        std::vector<objCorner_t> c;
        for (int i = 0; i < n; ++i)
            c.push_back({idx[i].vertex_index, idx[i].texcoord_index, idx[i].normal_index});
        static_cast<record_t*>(u)->face(c.data(), c.size());
    };
    std::istringstream in(text);
    std::string warn, err;
    tinyobj::LoadObjWithCallback(in, cb, &r, nullptr, &warn, &err);
    return r;
}

} // namespace

TEST(objStatementReader, ReadsWhatTheLibraryReaderReads) {
    const std::string texts[] = {
        "v 1.5abc -2 +.5e-3\nv\t.\t-.\n v 1e999 1e-999 0.123456789012345678\nv 7\n",
        "v 3.4028236e38 123456789012345678901234567890.5 1.00000000000000000001\rv 1E+2 1e+ 1e2147483647\r\n",
        "vt 0.25\nvt x 1\nvn 1 2 3\nv\v1 2 3\nvx 1 2 3\n#v 1 2 3\n",
        "f 1 2 3\nf 1/2 2//3 -1/-1/-1 3/\nf /1 // 1/a/2 1/ 2 1/\v2\n\tf 1/2/3/4 99999999999999999999\n",
        "f 4294967297 -99999999999999999999 +3\nf\nf 1\r\nf 1 2" + std::string(1, '\0') + " 3\nf 5 6 7",
        longPrefix() + "f 1 2 3"};
    for (const std::string& text : texts) {
        const record_t expected = throughLoader(text);
        record_t fromText, fromStream;
        readObjStatements(text.data(), text.size(), fromText);
        std::istringstream in(text);
        readObjStatements(in, fromStream);
        for (const record_t* r : {&fromText, &fromStream}) {
            ASSERT_EQ(r->numbers.size(), expected.numbers.size()) << text.substr(0, 80);
            EXPECT_TRUE(expected.numbers.empty() || std::memcmp(r->numbers.data(), expected.numbers.data(),
                                                                4 * expected.numbers.size()) == 0)
                << text.substr(0, 80);
            EXPECT_EQ(r->faces, expected.faces) << text.substr(0, 80);
        }
    }
}

TEST(objWords, FloatsAreReadAsTheStreamReadsThem) {
    // Cases separated by '|' (no case contains one).
    const std::string cases =
        "1|-2.5|+.5|.|-|1e|1e+|1E-3|0x1p3|inf|nan|1.2.3|1e999|-1e999|1e-50|0000.125|  7||   |"
        "5abc|1e5e3|..5|1.e2|.e2|00e1|-0|\v\f3\r|1,5|--1|+-1|1e+5x|"
        "340282356779733661637539395458142568448|3402823567797336616373953954581425684480|"
        "0.000000000000000000000000000000000000000000000000000000000000000000000000000001";
    std::istringstream list(cases);
    for (std::string s; std::getline(list, s, '|');) {
        std::istringstream in(s);
        float expected = 7.5f;
        const bool streamOk = static_cast<bool>(in >> expected);
        const auto streamAt = in.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
        float got = 7.5f;
        textSpan_t span{s.data(), s.data() + s.size()};
        const bool ok = extractFloat(span, &got);
        EXPECT_EQ(ok, streamOk) << '"' << s << '"';
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
            << '"' << s << "\": " << got << " " << expected;
        EXPECT_EQ(span.begin - s.data(), static_cast<std::ptrdiff_t>(streamAt)) << '"' << s << '"';
        textSpan_t quick{s.data(), s.data() + s.size()};
        EXPECT_EQ(extractFloat(quick, nullptr), streamOk) << '"' << s << '"';
    }
}

TEST(objWords, StatementsKeepTheirValuesAndIndices) {
    const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0.5x 3\nvt 1e999 2\nvn 1 2\r\n"
                             "usemtl  red \r\nf 1/1/1 2//1 -1/2/+1 4/0/-2\ns\nf 1 2\n";
    objDetails_t d;
    scanObj(text.data(), text.size(), d);
    EXPECT_EQ(d.texcoords, (std::vector<float>{0.5f, 0.0f, FLT_MAX, 0.0f}));
    ASSERT_EQ(d.normals.size(), 1u);
    EXPECT_EQ(d.normals[0].z, 0.0f);
    EXPECT_EQ(d.materials, std::vector<std::string>{"red "});
    const std::vector<std::array<int, 3>> corners = {{0, 0, 0}, {1, -1, 0}, {2, 1, 0}, {-1, -1, -1}};
    EXPECT_EQ(d.corners, corners);
    EXPECT_EQ(d.smoothLine, 9u);
    EXPECT_EQ(d.warnings,
              std::vector<std::string>{"line 10: faces of fewer than 3 corners are not surfaces; ignored"});
}

TEST(objWords, QuickAndBlockwiseScansAgreeWithTheFullScan) {
    const std::string texts[] = {
        longPrefix() +
            "vt 0 0\nvn 0 0 1\nmtllib a b.mtl\nf 1/1 2/1 3/1\nf 1 2 3\nbevel on\nl 1 2\np 1\nlines",
        longPrefix() + "f 1//1 2//1 3//1\nv 1 2 3 4 5 6", "", "\n\n", "o only\r"};
    for (const std::string& text : texts) {
        objDetails_t full, quick, streamed;
        scanObj(text.data(), text.size(), full);
        scanObj(text.data(), text.size(), quick, false);
        std::istringstream in(text);
        scanObj(in, streamed);
        for (const objDetails_t* d : {&quick, &streamed}) {
            EXPECT_EQ(d->warnings, full.warnings);
            EXPECT_EQ(d->materials, full.materials);
            EXPECT_EQ(d->libraries, full.libraries);
            EXPECT_EQ(d->smoothLine, full.smoothLine);
            EXPECT_EQ(d->matters(true), full.matters(true));
            EXPECT_EQ(d->anyUV, full.anyUV);
            EXPECT_EQ(d->allUV, full.allUV);
        }
        EXPECT_EQ(streamed.corners, full.corners);
        EXPECT_EQ(streamed.texcoords, full.texcoords);
        EXPECT_TRUE(quick.corners.empty() && quick.polygons.empty() && quick.texcoords.empty());
    }
}

TEST(objIndexCheck, FindsTheLineOfABadIndexPastBlockEdges) {
    const std::string prefix = longPrefix();
    const long long lines = std::count(prefix.begin(), prefix.end(), '\n');
    struct row_t {
        std::string tail;
        std::string fault;
        std::size_t corners;
    };
    const row_t rows[] = {
        {"f 1 2 3 4\n\tf 1 2 3 4 5", "", 5},
        {"f 1 2 3\nl 2147483647 2147483648\n",
         "line " + std::to_string(lines + 2) + ": the index 2147483648 is out of range (at most 2147483647)",
         3},
        {"p 1/" + std::string(50, '9'),
         "line " + std::to_string(lines + 1) + ": the index " + std::string(40, '9') +
             "... is out of range (at most 2147483647)",
         0},
    };
    for (const row_t& r : rows) {
        std::istringstream in(prefix + r.tail);
        std::size_t corners = 99;
        EXPECT_EQ(objIndexFault(in, &corners), r.fault);
        if (r.fault.empty()) {
            EXPECT_EQ(corners, r.corners);
        }
        std::string first;
        EXPECT_TRUE(std::getline(in, first)) << "rewound";
        EXPECT_EQ(first, "v 0.25 0 -1e-3");
    }
}
