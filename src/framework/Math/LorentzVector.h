#pragma once
// A four-vector over a coordinate system (here PtEtaPhiM4D<float>): stored as given, read
// through the framework's accessor names.
#include "Math/PtEtaPhiM4D.h"

namespace ROOT::Math {

template <class CoordSystem>
class LorentzVector {
public:
    typedef typename CoordSystem::Scalar Scalar;
    typedef CoordSystem CoordinateType;

    LorentzVector() = default;
    LorentzVector(Scalar a, Scalar b, Scalar c, Scalar d) : fCoordinates(a, b, c, d) {}

    const CoordSystem& Coordinates() const { return fCoordinates; }

    Scalar Pt() const { return fCoordinates.Pt(); }
    Scalar Eta() const { return fCoordinates.Eta(); }
    Scalar Phi() const { return fCoordinates.Phi(); }
    Scalar M() const { return fCoordinates.M(); }
    Scalar P() const { return fCoordinates.P(); }

    Scalar pt() const { return Pt(); }
    Scalar eta() const { return Eta(); }
    Scalar phi() const { return Phi(); }
    Scalar mass() const { return M(); }
    Scalar M2() const { return M() * M(); }

    bool operator==(const LorentzVector& rhs) const = default;

private:
    CoordSystem fCoordinates;
};

}  // namespace ROOT::Math
