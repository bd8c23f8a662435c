// The demo product's small library: what the setup program would install
// as eztw32.dll.
#if defined(_WIN32)
#define EZTW32_EXPORT __declspec(dllexport)
#else
#define EZTW32_EXPORT __attribute__((visibility("default")))
#endif

extern "C" EZTW32_EXPORT int eztw32_version() {
  return 0x0100;
}

extern "C" EZTW32_EXPORT int eztw32_checksum(const unsigned char* data, int size) {
  unsigned sum = 0;
  for (int i = 0; i < size; ++i) sum = (sum << 1 | sum >> 31) ^ data[i];
  return static_cast<int>(sum);
}
