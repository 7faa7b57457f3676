#pragma once

// Ends the event loop when the desktop session asks the program to stop
// (SIGTERM, SIGINT, SIGHUP on Unix), as closing the window would, so that the
// web profile is shut down properly and keeps the cookies of the session.
void quitOnTerminationSignals();
