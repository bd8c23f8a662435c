#include "host/platform.h"

namespace host {

namespace {
Services* installed = nullptr;
}

Services& RealServices() {
  return platform::RealServices();
}

Services& Current() {
  return installed ? *installed : platform::RealServices();
}

Services* Install(Services* services) {
  Services* previous = installed;
  installed = services;
  return previous;
}

}  // namespace host
