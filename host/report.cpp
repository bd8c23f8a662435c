#include <cstdio>

#include "host/platform.h"

namespace host {

namespace {

std::string FormatReport(std::string_view format, std::string_view class_name,
                         std::string_view module_name, std::uintptr_t offset,
                         std::string_view message) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(offset & 0xFFFFFFFFu));
  const bool needs_stop = !message.empty() && message.back() != '.';
  const std::string_view args[] = {class_name, module_name, hex, message, needs_stop ? "." : ""};
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'p')) {
      if (next < std::size(args)) out.append(args[next++]);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

}  // namespace

std::string FatalReportText(std::string_view class_name, std::string_view module_name,
                            std::uintptr_t offset, std::string_view message) {
  return FormatReport(platform::ReportFormat(), class_name, module_name, offset, message);
}

void ReportFatalError(const Exception& e) {
  std::string module;
  std::uintptr_t base = 0;
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(e.Address());
  std::uintptr_t offset;
  if (e.Address() && platform::ModuleOf(e.Address(), module, base)) {
    offset = address - base;
  } else {
    module = platform::ProgramFileName();
    offset = address - 4096;
  }
  platform::ShowFatalReport(platform::ReportTitle(),
                            FatalReportText(e.ClassName(), module, offset, e.Message()));
  platform::EndProcess(1);
}

}  // namespace host
