// Plexa, the weaving window: started by the window service with the stage buffer's shared
// handle as its only argument.
#include "weaver/plexa_app.h"

#include <string>

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    return qor::plexa::RunPlexa(commandLine);
}
