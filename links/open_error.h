// What the user is told when a link's address could not be opened. The GUI
// shows the message in a message box with the exclamation icon, under the
// application's title, after a warning beep.
#pragma once

#include <string>

// The explanation of a failed open's result code (32 or less); any code
// without its own text gives "Unknown Error (<code>) occurred.".
std::string OpenErrorReason(int code);

// "Can't open link:", an empty line, then the explanation.
std::string OpenErrorMessage(int code);
