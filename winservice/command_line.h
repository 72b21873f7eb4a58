// PlexaSvc's command line: -install / /install, -uninstall / /uninstall, the usage text, and
// then always the service dispatcher.
#pragma once

#include "winservice/window_commands.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qor::winservice {

// Installs the service with its trigger and delayed-start setting, then starts it.
void InstallWindowService(const std::string& modulePath, const CommandLog& log, std::FILE* out);
// Stops and deletes the service.
void UninstallWindowService(std::FILE* out);

// Handles the switch in `arguments` (the program first); false when it was no known switch
// and the usage text was printed.
bool HandleSwitch(const std::vector<std::string>& arguments, const CommandLog& log, std::FILE* out);

}  // namespace qor::winservice
