// QorClientService: starts the XR service in the user's session when an application asks.
#include "clientservice/command_line.h"

#include <cstdio>

int main(int argc, char** argv) {
    return qor::clientservice::RunCommandLine(std::vector<std::string>(argv, argv + argc), stdout);
}
