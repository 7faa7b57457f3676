#pragma once

// What the launcher tells the user itself, when there is no shell to do it.
namespace Notice {

// That no version of the program can be started and IT should reinstall it:
// a message box on Windows, where the launcher has no console; a line on the
// standard error stream elsewhere. Returns once the user closed it.
void nothingToStart();
// That the program kept crashing in the graphics driver even when drawing
// without the graphics card, so it is no longer started, and IT should look
// at the driver.
void keepsCrashing();

} // namespace Notice
