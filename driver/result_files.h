// The text of the two result files, with CR LF line ends.
//
// Header_Coated_TA.txt, five lines (TAB and CR LF are single bytes):
//   Alpha1=5.000000 TAB Refractive index_m1=(1.500000, 0.010000) CR LF
//   Alpha2=3.000000 TAB Refractive index_m2=(2.000000, 0.500000) CR LF
//   CR LF
//   Kext=3.135894, Ksca=2.011933, Kabs=1.123961 CR LF
//   CR LF
// Mie_Coated_TA.txt: the column line "Angle(Deg) TAB I1 TAB I2 TAB Itotal"
// and one line per angle, e.g.
//   30.000000 TAB 5.000000e-001 TAB 2.500000e-001 TAB 7.500000e-001 CR LF
// with no empty line at the end.
#ifndef COATEDMIE_RESULT_FILES_H
#define COATEDMIE_RESULT_FILES_H

#include <coatedmie/engine.h>

#include "output_file.h"
#include "parameter_file.h"

namespace coatedmie {

inline constexpr char kHeaderFileName[] = "Header_Coated_TA.txt";
inline constexpr char kTableFileName[] = "Mie_Coated_TA.txt";

// The inputs as read (file order, signs kept) and the three efficiencies.
void writeHeader(OutputFile& file, const RunParameters& parameters,
                 const EfficiencyRecord& efficiencies);

void writeTableColumnLine(OutputFile& file);

// One table line; Itotal is I1 + I2, one rounded addition.
void writeTableLine(OutputFile& file, double angleDegrees, double I1, double I2);

}  // namespace coatedmie

#endif  // COATEDMIE_RESULT_FILES_H
