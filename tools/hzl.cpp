// hzl: make, expand and check "!HZL" compressed files.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "compress/compress_file.h"
#include "compress/expand.h"
#include "host/host.h"

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;
constexpr std::size_t kMaxInput = 0x7FFFFFFF;  // the length field is signed 32-bit
#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\:";
#else
constexpr const char* kPathSeparators = "/";
#endif

const char kUsageText[] =
    "usage: hzl c [--fast] [-f] IN [OUT]   compress IN into OUT; without OUT, into IN's name\n"
    "                                      with its last character replaced by '_'\n"
    "                                      (Setup.exe -> Setup.ex_); -f replaces an existing OUT\n"
    "       hzl x IN OUT                   expand the compressed file IN into OUT\n"
    "       hzl t FILE...                  check that each FILE expands, writing nothing\n"
    "       hzl --help                     show this text\n"
    "\n"
    "Compressed files begin with \"!HZL\" and the expanded length, followed by an\n"
    "LZHUF code stream (LZSS with adaptive Huffman coding, a 4096-byte window).\n"
    "c uses a cost-based parse; --fast uses greedy longest matches instead. A\n"
    "failed command leaves no partial output. Exit codes: 0 success, 1 failure,\n"
    "2 usage error.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "hzl: %s\nrun 'hzl --help' for usage\n", problem);
  return kUsage;
}

int Failure(const std::string& line) {
  std::fprintf(stderr, "hzl: %s\n", line.c_str());
  return kFailed;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  data.clear();
  std::uint8_t chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    // The length field would not hold more; stop before reading it all.
    if (data.size() + n > kMaxInput) {
      error = path + ": 2 GiB or more; a compressed file holds at most 2147483647 bytes";
      std::fclose(f);
      return false;
    }
    data.insert(data.end(), chunk, chunk + n);
  }
  const bool ok = !std::ferror(f);
  if (!ok) error = path + ": " + std::strerror(errno);
  std::fclose(f);
  return ok;
}

// Written beside the target under a temporary name and renamed over it, so
// that OUT is either complete or untouched.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data,
                    std::string& error) {
  const std::string temp = path + ".hzl-partial";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  int failure = 0;  // the first errno met
  if (std::fwrite(data.data(), 1, data.size(), f) != data.size()) failure = errno;
  if (std::fflush(f) != 0 && !failure) failure = errno;
  if (std::fclose(f) != 0 && !failure) failure = errno;
#ifdef _WIN32
  // rename does not replace an existing file there; -f has been checked.
  if (!failure) std::remove(path.c_str());
#endif
  if (!failure && std::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
  if (failure) {
    error = path + ": " + std::strerror(failure);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// IN's name with its last character replaced by '_', as the setup programs
// expect compressed files to be named (Setup.exe -> Setup.ex_).
bool DefaultOutputName(const std::string& in, std::string& out, std::string& problem) {
  const auto slash = in.find_last_of(kPathSeparators);
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (in.size() <= base) {
    problem = in + ": names no file";
    return false;
  }
  out = in;
  out.back() = '_';
  if (out == in) {
    problem = in + ": already ends in '_'; name the output";
    return false;
  }
  return true;
}

int Compress(int argc, char** argv) {
  bool fast = false, force = false, options_done = false;
  std::vector<std::string> names;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      names.emplace_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--fast") {
      fast = true;
    } else if (arg == "-f" || arg == "--force") {
      force = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsageText, stdout);
      return kOk;
    } else {
      return Usage(("unknown option " + std::string(arg)).c_str());
    }
  }
  if (names.empty() || names.size() > 2) return Usage("c takes IN and an optional OUT");
  const std::string& in = names[0];
  std::string out, error;
  if (names.size() == 2) {
    out = names[1];
  } else if (!DefaultOutputName(in, out, error)) {
    return Usage(error.c_str());
  }
  if (!force && Exists(out)) return Failure(out + ": exists; use -f to replace it");

  try {
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(in, data, error)) return Failure(error);

    lzh::PackOptions options;
    options.fast = fast;
    // Only on a terminal, and only once the work has taken a moment.
    const bool show_progress = isatty(2);
    bool shown = false;
    unsigned last_percent = 0;
    const auto start = std::chrono::steady_clock::now();
    if (show_progress) {
      options.progress = [&](std::size_t done, std::size_t total) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const unsigned percent = static_cast<unsigned>(total ? done * 100 / total : 100);
        if (seconds < 0.5 || (shown && percent == last_percent)) return;
        last_percent = percent;
        std::fprintf(stderr, "\rhzl: %s %3u%%", in.c_str(), percent);
        std::fflush(stderr);
        shown = true;
      };
    }
    std::vector<std::uint8_t> packed;
    try {
      packed = compress::CompressToContainer(data, options);
    } catch (const host::Exception& e) {
      if (shown) std::fputc('\n', stderr);
      return Failure(in + ": " + std::string(e.Message()));
    }
    if (shown) std::fprintf(stderr, "\r\033[K");
    if (!WriteWholeFile(out, packed, error)) return Failure(error);
  } catch (const std::bad_alloc&) {
    return Failure(in + ": out of memory");
  }
  return kOk;
}

int Expand(int argc, char** argv) {
  if (argc != 4) return Usage("x takes IN and OUT");
  compress::InFileName = argv[2];
  compress::OutFileName = argv[3];
  try {
    compress::RunExpansion();
  } catch (const host::Exception& e) {
    return Failure(std::string(e.Message()));
  } catch (const std::bad_alloc&) {
    return Failure("out of memory");
  }
  return kOk;
}

int Test(int argc, char** argv) {
  if (argc < 3) return Usage("t takes one or more files");
  int result = kOk;
  for (int i = 2; i < argc; ++i) {
    compress::InFileName = argv[i];
    try {
      compress::TestExpansion();
      std::printf("%s: ok\n", argv[i]);
    } catch (const host::Exception& e) {
      std::printf("%s: %s\n", argv[i], std::string(e.Message()).c_str());
      result = kFailed;
    }
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (command == "c") return Compress(argc, argv);
  if (command == "x") return Expand(argc, argv);
  if (command == "t") return Test(argc, argv);
  return Usage(("unknown command " + std::string(command)).c_str());
}
