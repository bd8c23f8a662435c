// Keeps a program "still running from an earlier run" for the wine tests:
// starts it suspended, so that its image is in use and cannot be replaced,
// yet it does nothing of its own (a suspended setup program writes no log).
//
//   hold_running <program> <working folder> <seconds>
//
// Prints "started=<process id>" once the process exists, then holds it
// until a line (or the end of input) arrives on stdin or the seconds have
// passed, ends it and prints "ended". Exits 0, or 2 when it could not start
// the program.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Reads stdin until a line or its end, so the caller decides when to let go.
DWORD WINAPI WaitForRelease(LPVOID) {
  char line[16];
  std::fgets(line, sizeof line, stdin);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: hold_running <program> <working folder> <seconds>\n", stderr);
    return 64;
  }
  std::string command_line = std::string("\"") + argv[1] + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[1], command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, argv[2], &startup, &process)) {
    std::printf("started=no\nerror=%lu\n", GetLastError());
    return 2;
  }
  std::printf("started=%lu\n", process.dwProcessId);
  std::fflush(stdout);

  HANDLE release = CreateThread(nullptr, 0, WaitForRelease, nullptr, 0, nullptr);
  WaitForSingleObject(release, static_cast<DWORD>(std::atoi(argv[3])) * 1000);
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::puts("ended");
  std::fflush(stdout);
  // The reading thread may still block on stdin; ending the process ends it.
  ExitProcess(0);
}
