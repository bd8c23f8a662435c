#include <new>

#include "host/platform.h"

namespace host {

namespace {
Application application;
bool run_step_reached = false;
}  // namespace

Application& TheApplication() { return application; }

void Application::Initialize() {}

void Application::SetTitle(std::string_view title) {
  title_ = title;
  platform::SetApplicationWindowTitle(title_);
}

void Application::Run() { run_step_reached = true; }

void RunProgram(void (*body)()) {
  int exit_code = 0;
  // The application object and its hidden window exist before the body.
  platform::CreateApplicationWindow(application.Title());
  try {
    body();
  } catch (const Exception& e) {
    ReportFatalError(e);
  } catch (const std::bad_alloc&) {
    // Memory ran out inside a string operation of the standard library.
    try {
      RaiseOutOfMemory();
    } catch (const Exception& e) {
      ReportFatalError(e);
    }
  }
  // Process end: the application clean-up, then the modules in reverse order.
  if (run_step_reached) run_step_reached = false;
  platform::DestroyApplicationWindow();
  platform::EndProcess(exit_code);
}

}  // namespace host
