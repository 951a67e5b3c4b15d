// The engine as first written, kept as the oracle of its fast paths and as
// the baseline of the benchmarks: every complex operation is a call of the
// out-of-line kernel (both halves of every quotient-product computed), the
// log-derivative tables are filled one after another, and the intensities
// are evaluated one angle at a time. Slow, literal, and obviously in the
// order of operations that the results are pinned to.
//
// It keeps its own static tables, so a reference run and an engine run can
// be compared entry by entry. The start values of the per-order recurrences
// are the engine's own (psiOverXiStartValue, shellRatioStartValue).
#ifndef COATEDMIE_TESTS_REFERENCE_ENGINE_H
#define COATEDMIE_TESTS_REFERENCE_ENGINE_H

#include <coatedmie/engine.h>

#include "log_derivative.h"

namespace coatedmie::reference {

// Same contract as coatedmie::computeCoatedSphere; fills the reference's own
// tables.
int computeCoatedSphere(double alpha1, double index1Re, double index1Im, double alpha2,
                        double index2Re, double index2Im, EfficiencyRecord& efficiencies);

const CoefficientTables& coefficientTables();
const LogDerivativeTables& logDerivativeTables();

// Same contract as coatedmie::computeIntensity, on the given coefficients.
void computeIntensity(const CoefficientTables& coefficients, int termCount, double theta,
                      IntensityRecord& intensity);

}  // namespace coatedmie::reference

#endif  // COATEDMIE_TESTS_REFERENCE_ENGINE_H
