// A new scene starts with the documented defaults.
#include "vexlarcore/scene.h"

#include <gtest/gtest.h>

using namespace vexlar;

TEST(sceneDefaults, NewSceneStartsWithThem) {
    using d = sceneDefaults_t;
    scene_t s;
    EXPECT_EQ(s.getRayBias(), d::rayBias);
    EXPECT_EQ(s.getMaxRayLevel(), d::maxRayLevel);
    EXPECT_EQ(s.getSelfShadowBias(), d::selfShadowBias);
    EXPECT_EQ(s.getIndirectEnabled(), d::indirectEnabled);
    EXPECT_EQ(s.getIndirectSamples(), d::indirectSamples);
    EXPECT_EQ(s.getIndirectPower(), d::indirectPower);
    EXPECT_EQ(s.getGamma(), d::gamma);
    EXPECT_EQ(s.getExposure(), d::exposure);
    EXPECT_EQ(s.getFogDensity(), d::fogDensity);
    EXPECT_EQ(s.getAaPasses(), d::aaPasses);
    EXPECT_EQ(s.getAaSamples(), d::aaSamples);
    EXPECT_EQ(s.getAaPixelWidth(), d::aaPixelWidth);
    EXPECT_EQ(s.getAaThreshold(), d::aaThreshold);
    EXPECT_EQ(s.getRegionMinX(), d::regionMin);
    EXPECT_EQ(s.getRegionMinY(), d::regionMin);
    EXPECT_EQ(s.getRegionMaxX(), d::regionMax);
    EXPECT_EQ(s.getRegionMaxY(), d::regionMax);
    // The values themselves, as hosts and scene files document them.
    EXPECT_EQ(d::rayBias, 5e-05f);
    EXPECT_EQ(d::maxRayLevel, 3);
    EXPECT_EQ(d::selfShadowBias, 0.1f);
    EXPECT_EQ(d::aaThreshold, 0.05f);
}
