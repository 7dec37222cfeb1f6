#pragma once
// Four-vector coordinates (pt, eta, phi, mass) in the precision of Scalar.
#include <cmath>

namespace ROOT::Math {

template <class ScalarType = double>
class PtEtaPhiM4D {
public:
    typedef ScalarType Scalar;

    PtEtaPhiM4D() = default;
    // As the framework does: phi is brought into (-pi, pi] and an unphysical negative mass
    // (|m| above p) becomes -p. Values read from files are already in range.
    PtEtaPhiM4D(Scalar pt, Scalar eta, Scalar phi, Scalar mass) : fPt(pt), fEta(eta), fPhi(phi), fM(mass)
    {
        RestrictPhi();
        if (fM < 0) RestrictNegMass();
    }

    Scalar Pt() const { return fPt; }
    Scalar Eta() const { return fEta; }
    Scalar Phi() const { return fPhi; }
    Scalar M() const { return fM; }
    Scalar P() const { return fPt * std::cosh(fEta); }

    bool operator==(const PtEtaPhiM4D& rhs) const = default;

private:
    static constexpr double pi() { return M_PI; }
    void RestrictPhi()
    {
        if (fPhi <= -pi() || fPhi > pi()) fPhi = fPhi - std::floor(fPhi / (2 * pi()) + .5) * 2 * pi();
    }
    void RestrictNegMass()
    {
        if (fM >= 0) return;
        const Scalar p = P();
        if (p * p - fM * fM < 0) fM = -p;
    }

    Scalar fPt = 0;
    Scalar fEta = 0;
    Scalar fPhi = 0;
    Scalar fM = 0;
};

}  // namespace ROOT::Math
