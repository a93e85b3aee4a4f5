// The architecture a kit program was compiled for, by the name a report's header gives it ("runner
// built for: "): what the verdict compares with the runner's, so that it judges its own build's reports.
#pragma once

namespace kit {

// "i686", "x86_64" or "arm64": the build of the program that includes this.
constexpr const char* ThisBuild() {
#if defined(__i386__)
  return "i686";
#elif defined(__x86_64__)
  return "x86_64";
#elif defined(__aarch64__)
  return "arm64";
#else
#error "a kit program for an architecture that no report names"
#endif
}

}  // namespace kit
