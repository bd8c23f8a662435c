#include <exception>
#include <new>

#include "host/platform.h"

namespace host {

namespace {
Application application;
}  // namespace

Application& TheApplication() {
  return application;
}

void Application::Initialize() {}

void Application::SetTitle(std::string_view title) {
  title_ = title;
  platform::SetApplicationWindowTitle(title_);
}

// With no main window there is no message loop to enter.
void Application::Run() {}

void RunProgram(void (*body)()) {
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
  } catch (const std::exception& e) {
    // Whatever else leaves the body ends through the report too, never
    // through an abort: the runtime's base class carries the text.
    ReportFatalError(Exception(e.what()));
  } catch (...) {
    ReportFatalError(Exception(""));
  }
  // Process end: the application object goes, then the modules in reverse
  // order as the process exits.
  platform::DestroyApplicationWindow();
  platform::EndProcess(0);
}

}  // namespace host
