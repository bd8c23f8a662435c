#include "Setup_Merlavox/bootstrap.h"
#include "host/host.h"

int main() {
  host::RunProgram(setup_merlavox::RunBootstrap);
}
