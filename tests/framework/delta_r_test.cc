// DeltaR in single precision: the phi difference is a float, wrapped at most once against
// pi in double and stored back as a float; squares, sum and root are floats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Math/LorentzVector.h"
#include "Math/PtEtaPhiM4D.h"
#include "Math/VectorUtil.h"

namespace {

using LorentzVector = ROOT::Math::LorentzVector<ROOT::Math::PtEtaPhiM4D<float>>;
using ROOT::Math::VectorUtil::DeltaPhi;
using ROOT::Math::VectorUtil::DeltaR;

// Bit-for-bit float equality (EXPECT_EQ would pass -0 for 0 and fail NaN for NaN).
::testing::AssertionResult same_float(float got, float want)
{
    if (std::memcmp(&got, &want, sizeof got) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << got << " != " << want;
}

TEST(DeltaR, AcrossThePhiSeamWrapsOnceAndStaysFloat)
{
    const LorentzVector lepton(40, 1.2f, 3.0f, 0);
    const LorentzVector jet(60, 1.2f, -3.0f, 5);
    static_assert(std::is_same_v<decltype(DeltaR(lepton, jet)), float>);

    // -6 + 2 pi in double, stored as a float: 0.28318530...
    const float dphi = DeltaPhi(lepton, jet);
    EXPECT_TRUE(same_float(dphi, static_cast<float>(-6.0 + 2 * M_PI)));
    EXPECT_TRUE(same_float(dphi, 0x1.21fb54p-2f));
    EXPECT_FLOAT_EQ(dphi, 0.28318530f);

    const float dr = DeltaR(lepton, jet);
    EXPECT_TRUE(same_float(dr, std::sqrt(dphi * dphi + 0.0f)));
    EXPECT_LT(static_cast<double>(dr), 0.4) << "the jet overlaps";
    EXPECT_TRUE(same_float(DeltaR(jet, lepton), dr)) << "symmetric";
}

TEST(DeltaR, WithoutWrapIsTheFloatFormula)
{
    const LorentzVector a(10, 0.3f, 1.0f, 0), b(10, -0.2f, 2.5f, 0);
    const float dphi = 2.5f - 1.0f;
    const float deta = -0.2f - 0.3f;
    EXPECT_TRUE(same_float(DeltaR(a, b), std::sqrt(dphi * dphi + deta * deta)));
    EXPECT_TRUE(same_float(DeltaR(b, a), DeltaR(a, b)));

    // A case where double arithmetic would give another float.
    const LorentzVector c(10, 0.1f, 0.7f, 0), d(10, 2.3f, -1.9f, 0);
    const float dphi_cd = -1.9f - 0.7f;
    const float deta_cd = 2.3f - 0.1f;
    const float in_float = std::sqrt(dphi_cd * dphi_cd + deta_cd * deta_cd);
    EXPECT_TRUE(same_float(DeltaR(c, d), in_float));
}

TEST(DeltaR, TheWrapComparesTheFloatDifferenceWithPiInDouble)
{
    // The float nearest pi lies above pi: a difference of exactly that float is shifted.
    const float pi_f = static_cast<float>(M_PI);
    ASSERT_GT(static_cast<double>(pi_f), M_PI);
    const LorentzVector at_zero(10, 0, 0, 0);
    const LorentzVector at_pi(10, 0, pi_f, 0);
    EXPECT_TRUE(same_float(DeltaPhi(at_zero, at_pi), static_cast<float>(static_cast<double>(pi_f) - 2 * M_PI)));
    EXPECT_TRUE(same_float(DeltaPhi(at_pi, at_zero), static_cast<float>(-static_cast<double>(pi_f) + 2 * M_PI)));

    // One float below pi stays as it is.
    const float below = std::nextafter(pi_f, 0.0f);
    const LorentzVector at_below(10, 0, below, 0);
    EXPECT_TRUE(same_float(DeltaPhi(at_zero, at_below), below));
    EXPECT_TRUE(same_float(DeltaPhi(at_below, at_zero), -below));
}

TEST(DeltaR, NotANumberPropagates)
{
    const LorentzVector a(10, 0, 0, 0), b(10, std::nanf(""), 1.0f, 0);
    EXPECT_TRUE(std::isnan(DeltaR(a, b)));
    EXPECT_FALSE(static_cast<double>(DeltaR(a, b)) < 0.4) << "no overlap";
}

TEST(PtEtaPhiM4D, PhiIsBroughtIntoRangeOnConstruction)
{
    const LorentzVector v(10, 0, 4.0f, 0);
    EXPECT_TRUE(same_float(v.Phi(), static_cast<float>(4.0 - 2 * M_PI)));
    const LorentzVector w(10, 0, -3.0f, 0);
    EXPECT_TRUE(same_float(w.Phi(), -3.0f)) << "values in range are kept as stored";
    EXPECT_EQ(v.Pt(), 10.0f);
}

}  // namespace
