// The processor this process runs on, as a build compiled for it depends on it.
#pragma once

#include <string>

namespace zel {

// One word naming the processor's kind and the instruction sets it and the operating system
// enable: equal on every machine a build for this CPU runs on, different where it could die
// of an instruction the processor lacks.
std::string this_cpu();

} // namespace zel
