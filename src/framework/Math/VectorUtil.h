#pragma once
// Angular distances between four-vectors, in the precision of the first vector's Scalar.
// The phi wrap compares and shifts against pi in double and stores back: one shift at most.
#include <cmath>

namespace ROOT::Math::VectorUtil {

template <class Vector1, class Vector2>
inline typename Vector1::Scalar DeltaPhi(const Vector1& v1, const Vector2& v2)
{
    typename Vector1::Scalar dphi = v2.Phi() - v1.Phi();
    if (dphi > M_PI) {
        dphi -= 2.0 * M_PI;
    } else if (dphi <= -M_PI) {
        dphi += 2.0 * M_PI;
    }
    return dphi;
}

template <class Vector1, class Vector2>
inline typename Vector1::Scalar DeltaR2(const Vector1& v1, const Vector2& v2)
{
    typename Vector1::Scalar dphi = DeltaPhi(v1, v2);
    typename Vector1::Scalar deta = v2.Eta() - v1.Eta();
    return dphi * dphi + deta * deta;
}

template <class Vector1, class Vector2>
inline typename Vector1::Scalar DeltaR(const Vector1& v1, const Vector2& v2)
{
    return std::sqrt(DeltaR2(v1, v2));
}

}  // namespace ROOT::Math::VectorUtil
