// The host services on Windows: each one is the Windows call that the
// runtime makes, with the same arguments, so that the program behaves on
// Windows exactly as the runtime's own services would.
#include "host/platform.h"
#include "host/win32/report_strings.h"

// After the host's headers: <windows.h> defines FindResource and
// FormatMessage as macros, which would rename the host's own functions.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// These two use the types of <windows.h>.
#include <process.h>  // _cexit
#include <shellapi.h>
#undef FindResource
#undef FormatMessage

#include <vector>

namespace host {

const char kPathSeparator = '\\';
const PathRules kHostPathRules = kWindowsPathRules;
// Windows-1252, the code page in which MessageBoxA shows the report.
const char* const messages::kInvalidPointer = "Ung\xFCltige Zeigeroperation";

namespace {

std::string BaseName(const std::string& path) {
  const auto cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

// INVALID_HANDLE_VALUE is -1, so a failed open reads as a negative handle.
FileHandle AsFileHandle(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

HMODULE OwnModule() {
  return GetModuleHandleA(nullptr);
}

class Win32Services final : public Services {
 public:
  void* Allocate(std::size_t size) override {
    void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!block) RaiseOutOfMemory();
    return block;
  }

  void Release(void* block) override {
    if (block && !HeapFree(GetProcessHeap(), 0, block)) RaiseInvalidPointer();
  }

  FileHandle OpenForReading(const std::string& path) override {
    return AsFileHandle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  FileHandle CreateForWriting(const std::string& path) override {
    return AsFileHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) override {
    DWORD moved = 0;
    if (!ReadFile(AsHandle(file), buffer, count, &moved, nullptr)) return -1;
    return static_cast<std::int32_t>(moved);
  }

  std::int32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override {
    DWORD moved = 0;
    if (!WriteFile(AsHandle(file), buffer, count, &moved, nullptr)) return -1;
    return static_cast<std::int32_t>(moved);
  }

  void Flush(FileHandle file) override { FlushFileBuffers(AsHandle(file)); }

  void Close(FileHandle file) override {
    if (file > 0) CloseHandle(AsHandle(file));
  }

  void Delete(const std::string& path) override { DeleteFileA(path.c_str()); }

  std::string LastErrorText() override {
    char buffer[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, GetLastError(), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    // The system's texts end in ".\r\n"; the message format adds its own stop.
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
      text.pop_back();
    }
    return text;
  }

  std::string FullPath(const std::string& path) override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      char* file_part = nullptr;
      const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                            buffer.data(), &file_part);
      if (length == 0) return path;
      // A result that did not fit reports the size it needs, its zero included.
      if (length < buffer.size()) return std::string(buffer.data(), length);
      buffer.resize(length);
    }
  }

  bool IsFolder(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool CreateFolder(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
  }

  // The temporary folder that GetTempPathA reports is the user's own, in
  // the user's profile and closed to other users, and every file is opened
  // with share mode 0: Windows keeps the staging folder as it is.
  void ClaimStagingFolder(const std::string&, std::span<const std::string_view>) override {}

  bool FindResource(const std::string& type, const std::string& name,
                    ResourceBytes& bytes) override {
    const HMODULE module = OwnModule();
    const HRSRC info = FindResourceA(module, name.c_str(), type.c_str());
    if (!info) return false;
    const HGLOBAL loaded = LoadResource(module, info);
    if (!loaded) return false;
    // The bytes stay where the loader mapped them; releasing a loaded
    // resource is a no-op on Win32, so nothing needs to be given back.
    bytes.data = LockResource(loaded);
    bytes.size = SizeofResource(module, info);
    return bytes.data != nullptr || bytes.size == 0;
  }

  void Launch(const std::string& file, const std::string& working_folder) override {
    // The parameters are an empty text, never a null pointer; SW_SHOW, not
    // SW_SHOWNORMAL. The result is of no interest: a failed start is silent.
    ShellExecuteA(nullptr, "open", file.c_str(), "", working_folder.c_str(), SW_SHOW);
  }
};

// The application object's window: top-level, hidden, captioned with the
// title. It is never shown and no message loop serves it.
constexpr const char* kApplicationWindowClass = "TApplication";
HWND application_window = nullptr;

std::string LoadReportString(UINT id, const char* fallback) {
  char buffer[256];
  const int length = LoadStringA(OwnModule(), id, buffer, sizeof buffer);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : fallback;
}

}  // namespace

namespace platform {

Services& RealServices() {
  static Win32Services services;
  return services;
}

bool ModuleOf(const void* address, std::string& file_name, std::uintptr_t& base) {
  HMODULE module = nullptr;
  if (!address || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<const char*>(address), &module)) {
    return false;
  }
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0) return false;
  file_name = BaseName(std::string(path, length));
  base = reinterpret_cast<std::uintptr_t>(module);
  return true;
}

std::string ProgramFileName() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length ? BaseName(std::string(path, length)) : "Setup_Merlavox.exe";
}

std::string ReportFormat() {
  return LoadReportString(MERLAVOX_IDS_REPORT_FORMAT, "Exception %s in Modul %s bei %p.\n%s%s");
}

std::string ReportTitle() {
  return LoadReportString(MERLAVOX_IDS_REPORT_TITLE, kFatalReportTitle);
}

void ShowFatalReport(const std::string& title, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::string TempPath() {
  // The buffer holds 256 characters but the call is told 255, so a path of
  // up to 254 characters and its zero fit. The returned count is not
  // examined: the zeroed buffer makes a failed call an empty path.
  char buffer[256] = {};
  GetTempPathA(255, buffer);
  return std::string(buffer);
}

void CreateApplicationWindow(const std::string& title) {
  if (application_window) return;
  const HINSTANCE instance = OwnModule();
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, "MAINICON");
  window_class.lpszClassName = kApplicationWindowClass;
  RegisterClassA(&window_class);
  // Without WS_VISIBLE and without ShowWindow the window never appears; a
  // desktop that cannot make it only costs the caption.
  application_window =
      CreateWindowExA(0, kApplicationWindowClass, title.c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr, nullptr, instance, nullptr);
}

void SetApplicationWindowTitle(const std::string& title) {
  if (application_window) SetWindowTextA(application_window, title.c_str());
}

void DestroyApplicationWindow() {
  if (!application_window) return;
  DestroyWindow(application_window);
  application_window = nullptr;
  UnregisterClassA(kApplicationWindowClass, OwnModule());
}

void EndProcess(int exit_code) {
  // The fatal-error report ends here too, so the window goes here as well.
  DestroyApplicationWindow();
  // Finalisation: the C runtime's exit work (static destructors release the
  // module-level strings, streams are flushed) without ending the process,
  // which ExitProcess then does with the exit code.
  _cexit();
  ExitProcess(static_cast<UINT>(exit_code));
}

}  // namespace platform

std::string GetTempDir() {
  return platform::TempPath();
}

}  // namespace host
