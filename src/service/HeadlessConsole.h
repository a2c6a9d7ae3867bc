#pragma once

// The console without a window: the same ports, links, options, log and single
// instance, on Qt's core event loop with no display and no widget. Its control
// socket is the only way to change it; messages the window would show in a box go
// to standard error, one line each. Runs until SIGTERM or SIGINT, then stops in the
// window's close order (without the question about open ports); SIGHUP reloads the
// configuration file.
//
// Exit codes as the window's start: 0 after a stop, 1 when the start ends early
// (another console runs, no lock, the wrong platform, "Initialize failed!") or an
// error ends the run.
int RunHeadless(int argc, char* argv[]);
