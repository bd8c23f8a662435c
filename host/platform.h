// What each host implements beneath the portable parts of host/.
#pragma once

#include <cstdint>
#include <string>

#include "host/host.h"

namespace host::platform {

// The real services of this host.
Services& RealServices();

// The file name (without folder) and load address of the module that holds
// the address; false when no module holds it.
bool ModuleOf(const void* address, std::string& file_name, std::uintptr_t& base);
// The running program's own file name, without folder.
std::string ProgramFileName();

// The report's format and title, as the runtime's resource strings.
std::string ReportFormat();
std::string ReportTitle();
// Shows the finished report to the user.
void ShowFatalReport(const std::string& title, const std::string& text);

std::string TempPath();

void CreateApplicationWindow(const std::string& title);
void SetApplicationWindowTitle(const std::string& title);
void DestroyApplicationWindow();

[[noreturn]] void EndProcess(int exit_code);

}  // namespace host::platform
