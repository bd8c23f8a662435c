// Stands in for the user in front of the fatal-error report under wine:
// waits for the message box with the given title, tells what it shows and
// what became of the application object's hidden window, then presses OK.
//
//   box_closer <box title> <application window class> <seconds to wait>
//
// Prints key=value lines (bytes outside printable ASCII as \xNN) and exits
// 0 once OK was pressed, 2 when no box came.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// WM_GETTEXT, not GetWindowText: the windows belong to another process, and
// GetWindowText does not ask another process's controls for their text.
std::string TextOf(HWND window) {
  char buffer[4096];
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return "<no answer>";
  }
  return std::string(buffer, length);
}

std::string ClassOf(HWND window) {
  char buffer[256];
  const int length = GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Print(const char* key, const std::string& value) {
  std::printf("%s=", key);
  for (const unsigned char c : value) {
    if (c == '\\') {
      std::fputs("\\\\", stdout);
    } else if (c < 0x20 || c >= 0x7F) {
      std::printf("\\x%02X", c);
    } else {
      std::putchar(c);
    }
  }
  std::putchar('\n');
}

// The box's message is the one static control with text; the icon's static
// has none.
BOOL CALLBACK FindMessage(HWND child, LPARAM found) {
  auto& message = *reinterpret_cast<std::string*>(found);
  if (ClassOf(child) == "Static") {
    std::string text = TextOf(child);
    if (!text.empty()) {
      message = std::move(text);
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: box_closer <box title> <application window class> <seconds>\n", stderr);
    return 64;
  }
  const char* title = argv[1];
  const char* application_class = argv[2];
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;

  HWND box = nullptr;
  while (!(box = FindWindowA(nullptr, title)) || !IsWindowVisible(box)) {
    if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
      Print("box", "absent");
      return 2;
    }
    Sleep(100);
  }

  Print("box", "present");
  Print("box_class", ClassOf(box));
  Print("box_title", TextOf(box));
  std::string message;
  EnumChildWindows(box, FindMessage, reinterpret_cast<LPARAM>(&message));
  Print("box_text", message);
  Print("box_ok_button", GetDlgItem(box, IDOK) ? "present" : "absent");

  // The box is task-modal: while it stands, the program's other top-level
  // windows are disabled.
  const HWND application = FindWindowA(application_class, nullptr);
  Print("app_window", application ? "present" : "absent");
  if (application) {
    Print("app_caption", TextOf(application));
    Print("app_visible", IsWindowVisible(application) ? "yes" : "no");
    Print("app_enabled", IsWindowEnabled(application) ? "yes" : "no");
  }
  std::fflush(stdout);

  // Press OK as a user would.
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  return 0;
}
