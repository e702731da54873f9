#pragma once

// Qt ends the whole program (abort, core dump) when the platform it picks
// cannot reach its display server. Asking first lets the program decide.
namespace zr::ui {

// True when Qt, started with these arguments and this environment, will find
// a display: the platform named by -platform or QT_QPA_PLATFORM is probed
// (xcb: an X connection, as Qt makes it; wayland: the compositor's socket;
// any other platform is taken at its word). Without a named platform an X
// server must answer, or a Wayland compositor when Qt has its Wayland
// plugin, which is then named for Qt.
bool DisplayAnswers(int argc, char** argv);

}  // namespace zr::ui
