#include "vexlarcore/renderstate.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace vexlar;

namespace {

/// Records every destruction: which record died and in which order.
struct deathLog_t {
    std::map<int, int> count;
    std::vector<int> order;
};

class trackedRecord_t : public context_t::destructible {
public:
    trackedRecord_t(deathLog_t& l, int i) : log(l), id(i) {}
    ~trackedRecord_t() override {
        ++log.count[id];
        log.order.push_back(id);
    }
    deathLog_t& log;
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
    EXPECT_EQ(s.screenPos.y, 0.0f);
    EXPECT_EQ(s.screenPos.z, 0.0f);
    EXPECT_TRUE(s.context.valueRecords.empty());
    EXPECT_TRUE(s.context.objectRecords.empty());
}

TEST(RenderState, NumericRecordStartsAtZeroAndKeepsItsValue) {
    context_t c;
    int keyA = 0, keyB = 0;
    double& a = context_t::createRecord(c.valueRecords, &keyA);
    EXPECT_EQ(a, 0.0);
    a = 2.5;
    EXPECT_EQ(context_t::createRecord(c.valueRecords, &keyA), 2.5);
    // Same key, same storage.
    EXPECT_EQ(&context_t::createRecord(c.valueRecords, &keyA), &a);

    double& b = context_t::createRecord(c.valueRecords, &keyB);
    EXPECT_EQ(b, 0.0);
    b = -7.0;
    EXPECT_EQ(a, 2.5);
    EXPECT_EQ(c.valueRecords.size(), 2u);
}

TEST(RenderState, RecordReferencesSurviveManyInsertions) {
    context_t c;
    std::vector<char> keys(1000);
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
    EXPECT_EQ(context_t::createRecord(c.valueRecords, &keys[999]), 999.0);
}

TEST(RenderState, NewObjectSlotIsNull) {
    context_t c;
    int key = 0;
    context_t::destructible*& slot = context_t::createRecord(c.objectRecords, &key);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(c.objectRecords.size(), 1u);
}

TEST(RenderState, ContextDeletesEachObjectOnceInKeyOrderAndSkipsNulls) {
    deathLog_t log;
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
        EXPECT_TRUE(log.order.empty());
    }
    ASSERT_EQ(log.order.size(), 4u);
    EXPECT_EQ(log.order, (std::vector<int>{0, 2, 4, 5}));
    for (int id : {0, 2, 4, 5}) EXPECT_EQ(log.count[id], 1) << "record " << id;
    EXPECT_EQ(log.count.count(1), 0u);
    EXPECT_EQ(log.count.count(3), 0u);
}

TEST(RenderState, StateDestroysItsContextRecords) {
    deathLog_t log;
    int key = 0;
    {
        renderState_t s;
        context_t::createRecord(s.context.objectRecords, &key) = new trackedRecord_t(log, 7);
        context_t::createRecord(s.context.valueRecords, &key) = 3.0;
        // Records persist while the state lives.
        EXPECT_TRUE(log.order.empty());
        EXPECT_EQ(context_t::createRecord(s.context.valueRecords, &key), 3.0);
    }
    EXPECT_EQ(log.order, std::vector<int>{7});
}
