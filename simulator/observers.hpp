// The points where the optional tools (trace, checker, profiler) observe the
// simulation. Each is one test of a flag that is false unless a tool was
// switched on by an API call, so with every tool off an instruction pays one
// predictable branch.
#pragma once

#include <cstdint>

#include "kmrsim.hpp"

namespace kmrsim {

// True while at least one tool is on.
extern bool observers_active;

// Recomputes observers_active from the tools' switches.
void update_observers();

// An admitted or refused instruction has been counted and charged
// (current_issue describes it); esize is the element size it is charged by.
void observe_issue(int esize);

}  // namespace kmrsim
