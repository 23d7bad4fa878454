#pragma once
// The import run: the six imports in their fixed order, each announced in
// Label3, then the end of the run.

namespace kavelo {

// Runs once per process; a second call while it runs does nothing.
void Timer1_Timer();

}  // namespace kavelo
