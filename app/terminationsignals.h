#pragma once

// Ends the event loop when the desktop session asks the program to stop
// (SIGTERM, SIGINT, SIGHUP on Unix), as closing the window would, so that the
// web profile is shut down properly and keeps the cookies of the session.
// A signal that arrives before the event loop runs ends the local loop that
// start-up waits in, and terminationRequested() tells start-up to stop.
void quitOnTerminationSignals();

// Whether one of those signals has arrived.
bool terminationRequested();
