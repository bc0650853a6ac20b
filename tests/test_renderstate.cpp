#include "vexlarcore/renderstate.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vexlar;

namespace {

/// Appends its id to the log when destroyed.
class trackedRecord_t : public context_t::destructible {
public:
    trackedRecord_t(std::vector<int>& l, int i) : log(l), id(i) {}
    ~trackedRecord_t() override { log.push_back(id); }
    std::vector<int>& log;
    int id;
};

} // namespace

TEST(RenderState, FreshStateHasInitialValues) {
    renderState_t s;
    EXPECT_EQ(s.rayLevel, 0);
    EXPECT_EQ(s.hitDistance, 0.0f);
    EXPECT_EQ(s.contribution, 1.0f);
    EXPECT_EQ(s.skipElement, nullptr);
    EXPECT_EQ(s.sampleIndex, 0);
    EXPECT_EQ(s.reservedCount, 1);
    EXPECT_EQ(s.traveled, 0.0f);
    EXPECT_EQ(s.pixelNumber, 0);
    EXPECT_EQ(s.screenPos.x, 0.0f);
    EXPECT_TRUE(s.context.valueRecords.empty());
    EXPECT_TRUE(s.context.objectRecords.empty());
}

TEST(RenderState, NewRecordsStartAtZeroOrNullAndKeepTheirValue) {
    context_t c;
    int keyA = 0, keyB = 0;
    double& a = context_t::createRecord(c.valueRecords, &keyA);
    EXPECT_EQ(a, 0.0);
    a = 2.5;
    EXPECT_EQ(&context_t::createRecord(c.valueRecords, &keyA), &a); // same key, same storage
    double& b = context_t::createRecord(c.valueRecords, &keyB);
    EXPECT_EQ(b, 0.0);
    b = -7.0;
    EXPECT_EQ(a, 2.5);
    EXPECT_EQ(c.valueRecords.size(), 2u);
    EXPECT_EQ(context_t::createRecord(c.objectRecords, &keyA), nullptr);
    EXPECT_EQ(c.objectRecords.size(), 1u);
}

TEST(RenderState, RecordReferencesSurviveManyInsertions) {
    context_t c;
    std::vector<char> keys(300);
    double& first = context_t::createRecord(c.valueRecords, &keys[0]);
    first = 42.0;
    context_t::destructible*& slot = context_t::createRecord(c.objectRecords, &keys[0]);
    for (size_t i = 1; i < keys.size(); ++i) {
        context_t::createRecord(c.valueRecords, &keys[i]) = static_cast<double>(i);
        context_t::createRecord(c.objectRecords, &keys[i]);
    }
    EXPECT_EQ(first, 42.0);
    EXPECT_EQ(&context_t::createRecord(c.valueRecords, &keys[0]), &first);
    EXPECT_EQ(&context_t::createRecord(c.objectRecords, &keys[0]), &slot);
    EXPECT_EQ(context_t::createRecord(c.valueRecords, &keys[299]), 299.0);
}

TEST(RenderState, ContextDeletesEachObjectOnceInKeyOrderAndSkipsNulls) {
    std::vector<int> log;
    char keys[6];
    {
        context_t c;
        // Insert in an order that differs from key order; leave two slots null.
        const int insertion[] = {4, 1, 5, 0, 3, 2};
        for (int id : insertion) {
            context_t::destructible*& slot = context_t::createRecord(c.objectRecords, &keys[id]);
            if (id != 1 && id != 3) slot = new trackedRecord_t(log, id);
        }
        // Looking a record up again must not create or replace anything.
        context_t::createRecord(c.objectRecords, &keys[4]);
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (std::vector<int>{0, 2, 4, 5})); // each once, in key order
}

TEST(RenderState, StateDestroysItsContextRecords) {
    std::vector<int> log;
    int key = 0;
    {
        renderState_t s;
        context_t::createRecord(s.context.objectRecords, &key) = new trackedRecord_t(log, 7);
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, std::vector<int>{7});
}
