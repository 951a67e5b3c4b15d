#include "run_driver.h"

int main(int argc, char** argv) {
    // Command-line options (--help, --version) are to be handled here; until
    // then every argument is ignored and the run depends on the folder only.
    static_cast<void>(argc);
    static_cast<void>(argv);
    return coatedmie::runDriver();
}
