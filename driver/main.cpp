#include "command_line.h"
#include "run_driver.h"

int main(int argc, char** argv) {
    switch (coatedmie::readCommandLine(argc, argv)) {
        case coatedmie::CommandLineRequest::help:
            return coatedmie::printUsage();
        case coatedmie::CommandLineRequest::version:
            return coatedmie::printVersion();
        case coatedmie::CommandLineRequest::run:
            break;
    }
    return coatedmie::runDriver();
}
