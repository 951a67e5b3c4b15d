#include "library_square.h"

namespace coatedmie {

double libraryPowSquare(double x) { return std::pow(x, 2.0); }

}  // namespace coatedmie
