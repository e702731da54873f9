#pragma once

// Named moments of a run (the restore's steps), for whoever measures the
// program. Layers below the window mark them; the timing trace, when asked
// for, listens. Without a listener a moment costs one atomic load.
namespace zr::rt {

using MomentListener = void (*)(const char* moment);

// Installs the listener (nullptr: none) and returns the one in place.
MomentListener InstallMomentListener(MomentListener listener);

// Tells the listener, on the calling thread; `moment` is a fixed text.
void Moment(const char* moment);

}  // namespace zr::rt
