#include "command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "run_driver.h"

#ifndef COATEDMIE_VERSION
#error "COATEDMIE_VERSION must be defined by the build"
#endif

namespace coatedmie {
namespace {

constexpr char kUsage[] =
    "Usage: coatedmie [--help | --version]\n"
    "\n"
    "Computes how a coated sphere (a homogeneous core in a concentric\n"
    "homogeneous shell) scatters and absorbs a plane light wave, from the Mie\n"
    "series of the two-layer sphere. Run it in a folder that holds\n"
    "Parameter_in.txt; it writes Header_Coated_TA.txt (the inputs and the\n"
    "efficiencies Kext, Ksca, Kabs) and Mie_Coated_TA.txt (I1, I2 and Itotal at\n"
    "each scattering angle) next to it, with CR LF line ends, and prints nothing\n"
    "when it succeeds. Arguments other than the two options are ignored.\n"
    "\n"
    "Parameter_in.txt holds nine numbers separated by tabs, blanks or line\n"
    "breaks, usually three lines of three:\n"
    "  Alpha1      index1 real    index1 imaginary\n"
    "  Alpha2      index2 real    index2 imaginary\n"
    "  angleCount  startAngle     endAngle\n"
    "for example, a shell of x = 5, m = 1.5 + 0.01i on a core of x = 3,\n"
    "m = 2.0 + 0.5i, seen at 0, 90 and 180 degrees:\n"
    "  5   1.5   0.01\n"
    "  3   2.0   0.5\n"
    "  3   0     180\n"
    "Alpha is the size parameter 2 pi r / wavelength of a layer's outer surface\n"
    "(wavelength and index relative to the surrounding medium). The layer with\n"
    "the larger size parameter is the shell. Imaginary parts may be written\n"
    "with either sign. The table holds angleCount evenly spaced angles, in\n"
    "degrees, from startAngle to endAngle. Efficiencies refer to pi r^2 of the\n"
    "outer surface (of the core when the shell index is exactly 1 + 0i);\n"
    "I1 = |S1|^2 and I2 = |S2|^2 are unnormalised.\n"
    "\n"
    "Exit status:\n"
    "  0  success: both files written\n"
    "  1  bad input: Parameter_in.txt missing, unreadable or malformed, or a\n"
    "     value out of range (the message on standard error says which)\n"
    "  2  capacity: the larger size parameter needs more than 99998 series\n"
    "     terms (above about 99621)\n"
    "  3  a result file could not be written\n"
    "A failed run leaves earlier result files as they were.\n"
    "\n"
    "Options:\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

int finishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitSuccess;
    const int error = errno;
    std::fprintf(stderr, "coatedmie: cannot write to standard output: %s\n", std::strerror(error));
    return kExitOutputFailure;
}

}  // namespace

CommandLineRequest readCommandLine(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) return CommandLineRequest::help;
        if (std::strcmp(argv[i], "--version") == 0) return CommandLineRequest::version;
    }
    return CommandLineRequest::run;
}

int printUsage() {
    std::fputs(kUsage, stdout);
    return finishStandardOutput();
}

int printVersion() {
    std::fputs("coatedmie " COATEDMIE_VERSION "\n", stdout);
    return finishStandardOutput();
}

}  // namespace coatedmie
