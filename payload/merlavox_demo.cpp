// The demo product: what the setup program would install as Merlavox.exe.
#include <cstdio>

int main() {
  std::puts("Merlavox 1.0 (Demo)");
  return 0;
}
